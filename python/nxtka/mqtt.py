"""Values from an MQTT broker, as ``nxtka publish`` puts them there (docs/mqtt.md).

>>> from nxtka import mqtt
>>> for batch in mqtt.subscribe("lab/bench7/#", host="broker.local", timeout=10):
...     print(batch.amplifier, batch.sequences[0], batch.values.mean())

Each batch holds NumPy arrays of one amplifier's values, with their arrival
times (ns since 1970 UTC) and sequence numbers. Values a batch shares with
earlier ones (QoS 1 may deliver a batch twice; a restarted gateway sends its
spool again) are removed; ``gap`` says which sequence numbers never came
before it. Needs paho-mqtt (Debian: python3-paho-mqtt).
"""

from __future__ import annotations

import json
import os
import queue
import struct
from dataclasses import dataclass, field
from typing import Iterator, Optional, Tuple

import numpy as np

__all__ = ["Batch", "decode_batch", "subscribe"]

_HEADER = struct.Struct("<B3xIQQ")  # version, count, session, first


@dataclass
class Batch:
    """Consecutive values of one amplifier."""

    amplifier: str
    session: int  # the gateway's activation of the port; sequences restart with a new one
    sequences: np.ndarray  # uint64
    times: np.ndarray  # int64, ns since 1970 UTC
    values: np.ndarray  # float64, normalized
    statuses: np.ndarray  # uint8
    scaled: np.ndarray  # values * factor + offset of the amplifier's info
    unit: str = "normalized"
    gap: Optional[Tuple[int, int]] = None  # [first, last] sequence numbers missing before this batch
    state: dict = field(default_factory=dict)  # the amplifier's latest state document


def decode_batch(payload: bytes):
    """(session, first, times, values, statuses) of a binary or JSON batch; ValueError for anything else."""
    if payload[:1] == b"{":
        doc = json.loads(payload)
        if doc.get("format") != "nxtka-batch 1":
            raise ValueError("not an nxtka batch")
        n = doc["count"]
        times = np.asarray(doc["times"], dtype=np.int64)
        values = np.asarray(doc["values"], dtype=np.float64)
        statuses = np.asarray(doc["statuses"], dtype=np.uint8)
        if n < 1 or not len(times) == len(values) == len(statuses) == n:
            raise ValueError("the arrays do not hold count values")
        return int(doc["session"]), int(doc["first"]), times, values, statuses
    if len(payload) < _HEADER.size:
        raise ValueError("too short for a batch")
    version, n, session, first = _HEADER.unpack_from(payload)
    if version != 1 or n < 1 or len(payload) != _HEADER.size + 17 * n:
        raise ValueError("not a batch of layout 1")
    at = _HEADER.size
    times = np.frombuffer(payload, dtype="<i8", count=n, offset=at).astype(np.int64)
    values = np.frombuffer(payload, dtype="<f8", count=n, offset=at + 8 * n).astype(np.float64)
    statuses = np.frombuffer(payload, dtype=np.uint8, count=n, offset=at + 16 * n).copy()
    return session, first, times, values, statuses


def subscribe(
    topic: str = "nxtka/#",
    host: str = "localhost",
    port: Optional[int] = None,
    *,
    client_id: Optional[str] = None,
    keep_session: bool = False,
    ca_file: Optional[str] = None,
    cert_file: Optional[str] = None,
    key_file: Optional[str] = None,
    user: Optional[str] = None,
    password_file: Optional[str] = None,
    timeout: Optional[float] = None,
) -> Iterator[Batch]:
    """An iterator of the batches under ``topic`` as they come, duplicates removed.

    The subscription is in place when this returns (so a gateway started
    afterwards loses nothing to it); the iterator stops when nothing came
    for ``timeout`` seconds (None: never). The password is read from
    ``password_file`` (its first line). Raises ConnectionError when the
    broker cannot be reached or refuses the login.
    """
    import paho.mqtt.client as paho

    if keep_session and not client_id:
        raise ValueError("keep_session needs a client_id: the broker finds the session by it")
    client = paho.Client(client_id=client_id or f"nxtka-py-{os.getpid()}", clean_session=not keep_session)
    if user:
        password = None
        if password_file:
            with open(password_file, encoding="utf-8") as f:
                password = f.readline().rstrip("\r\n")
        client.username_pw_set(user, password)
    if ca_file:
        client.tls_set(ca_certs=ca_file, certfile=cert_file, keyfile=key_file)
    messages: "queue.Queue" = queue.Queue()
    connected: "queue.Queue" = queue.Queue()

    def on_connect(c, _userdata, _flags, rc):
        if rc == 0:
            c.subscribe(topic, qos=1)
        else:
            connected.put(rc)

    client.on_connect = on_connect
    client.on_subscribe = lambda _c, _u, _mid, _qos: connected.put(0)
    client.on_message = lambda _c, _u, m: messages.put((m.topic, bytes(m.payload)))
    client.connect(host, port or (8883 if ca_file else 1883))
    client.loop_start()
    try:
        rc = connected.get(timeout=10)
    except queue.Empty:
        rc = None
    if rc != 0:
        client.loop_stop()
        client.disconnect()
        if rc is None:
            raise ConnectionError(f"the broker at {host} did not answer")
        raise ConnectionError(f"the broker at {host} refused the connection: {paho.connack_string(rc)}")
    return _batches(client, messages, timeout)


def _batches(client, messages, timeout) -> Iterator[Batch]:
    try:
        scales = {}  # amplifier -> (factor, offset, unit)
        states = {}
        expected = {}  # (amplifier, session) -> next sequence
        while True:
            try:
                name_topic, payload = messages.get(timeout=timeout)
            except queue.Empty:
                return
            parts = name_topic.rsplit("/", 2)
            if len(parts) < 2:
                continue
            kind, name = parts[-1], parts[-2]
            if kind == "info":
                try:
                    scale = json.loads(payload).get("scale") or {}
                    scales[name] = (scale.get("factor", 1.0), scale.get("offset", 0.0), scale.get("unit", "normalized"))
                except ValueError:
                    pass
                continue
            if kind == "state":
                try:
                    states[name] = json.loads(payload)
                except ValueError:
                    pass
                continue
            if kind != "values":
                continue
            try:
                session, first, times, values, statuses = decode_batch(payload)
            except (ValueError, KeyError):
                continue
            n = len(values)
            key = (name, session)
            gap = None
            skip = 0
            if key in expected:
                nxt = expected[key]
                if first + n <= nxt:
                    continue  # all seen
                if first > nxt:
                    gap = (nxt, first - 1)
                skip = max(0, nxt - first)
            expected[key] = first + n
            factor, offset, unit = scales.get(name, (1.0, 0.0, "normalized"))
            values = values[skip:]
            yield Batch(
                amplifier=name,
                session=session,
                sequences=np.arange(first + skip, first + n, dtype=np.uint64),
                times=times[skip:],
                values=values,
                statuses=statuses[skip:],
                scaled=values * factor + offset,
                unit=unit,
                gap=gap,
                state=states.get(name, {}),
            )
    finally:
        client.loop_stop()
        client.disconnect()
