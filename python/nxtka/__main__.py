"""``python -m nxtka monitor``: live values of one amplifier, plotted.

With a display the values are drawn in a window as they come; with
``--png FILE`` (or without a display) they are collected for ``--seconds``
and saved as a PNG with the Agg backend. A summary line goes to stdout.
"""

import argparse
import os
import sys
import time

import numpy as np

from .errors import NxtkaError
from .port import Port


def has_display():
    """True when a window can be opened (always on Windows, with DISPLAY or WAYLAND_DISPLAY elsewhere)."""
    return sys.platform == "win32" or bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))


def parse(argv):
    """The command line of ``python -m nxtka``."""
    parser = argparse.ArgumentParser(prog="python -m nxtka", description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    monitor = commands.add_parser("monitor", help="plot live values")
    monitor.add_argument("--port", type=int, default=0, help="port number 0..1023 (default 0)")
    monitor.add_argument("--device", help="device path of the port (default: the system's name for it)")
    monitor.add_argument("--baud", type=int, help="line speed other than 38400 bit/s")
    monitor.add_argument("--seconds", type=float, default=10.0, help="how long to collect (default 10)")
    monitor.add_argument("--window", type=int, default=2000, help="values shown in the live plot (default 2000)")
    monitor.add_argument("--png", metavar="FILE", help="save the values as a PNG instead of showing them")
    return parser.parse_args(argv)


def collect(amp, seconds, on_block=None):
    """Values of ``amp`` for ``seconds`` as one array, calling ``on_block(values)`` as they come."""
    deadline = time.monotonic() + seconds
    chunks = []
    try:
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            if not amp.wait(min(left, 0.2)):
                if on_block:
                    on_block(None)
                continue
            block = amp.read_values(4096)
            chunks.append(block)
            if on_block:
                on_block(block)
    except KeyboardInterrupt:
        pass
    return np.concatenate(chunks) if chunks else np.empty(0)


def save_png(values, seconds, path, title):
    """Draws ``values`` over their sample numbers and saves the figure as a PNG at ``path``."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(8, 4))
    axes.plot(np.arange(len(values)), values, linewidth=0.8)
    axes.set_xlabel("sample")
    axes.set_ylabel("value (1.05 = end of scale)")
    axes.set_title(f"{title}: {len(values)} values in {seconds:.1f} s")
    axes.grid(True)
    figure.tight_layout()
    figure.savefig(path, format="png")
    plt.close(figure)


def show_live(amp, seconds, window, title):
    """Plots values in a window as they arrive, for ``seconds`` or until the window is closed."""
    import matplotlib.pyplot as plt

    plt.ion()
    figure, axes = plt.subplots(figsize=(8, 4))
    (line,) = axes.plot([], [], linewidth=0.8)
    axes.set_xlabel("sample")
    axes.set_ylabel("value (1.05 = end of scale)")
    axes.set_title(title)
    axes.grid(True)
    shown = {"values": np.empty(0), "count": 0}

    def draw(block):
        if block is not None and len(block):
            shown["count"] += len(block)
            shown["values"] = np.concatenate([shown["values"], block])[-window:]
            first = shown["count"] - len(shown["values"])
            line.set_data(np.arange(first, shown["count"]), shown["values"])
            axes.relim()
            axes.autoscale_view()
        if not plt.fignum_exists(figure.number):
            raise KeyboardInterrupt
        plt.pause(0.001)

    return collect(amp, seconds, draw)


def main(argv=None):
    """Runs the command line; returns the exit status."""
    args = parse(sys.argv[1:] if argv is None else argv)
    title = args.device or f"port {args.port}"
    if not args.png and not has_display():
        print("python -m nxtka: no display: give --png FILE to save the plot", file=sys.stderr)
        return 2
    try:
        with Port(args.port, device=args.device, baud=args.baud) as amp:
            started = time.monotonic()
            if args.png:
                values = collect(amp, args.seconds)
                elapsed = time.monotonic() - started
                save_png(values, elapsed, args.png, title)
            else:
                values = show_live(amp, args.seconds, args.window, title)
                elapsed = time.monotonic() - started
    except NxtkaError as e:
        print(f"python -m nxtka: {e}", file=sys.stderr)
        return 1
    summary = f"{len(values)} values in {elapsed:.1f} s"
    if len(values):
        summary += f", min {values.min():+.6f}, max {values.max():+.6f}"
    print(summary + (f", plot in {args.png}" if args.png else ""))
    return 0 if len(values) else 3  # as the nxtka tool: 3 when nothing was measured


if __name__ == "__main__":
    sys.exit(main())
