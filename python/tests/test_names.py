"""The port's names: the command-line tool's settings, and nothing else."""

import json
import subprocess

import pytest

import nxtka
from conftest import TOOL
from nxtka.descriptors import Setting
from nxtka.groups import GROUP_CLASSES, GroupSetting


def port_settings():
    """``{path: descriptor}`` for every setting of a port, ``mode`` and ``mode.si`` alike."""
    found = {}
    for klass in nxtka.Port.__mro__:
        for name, member in vars(klass).items():
            if isinstance(member, Setting):
                found[name] = member
            elif isinstance(member, GroupSetting):
                for setting in member.cls.settings():
                    found[f"{name}.{setting.name}"] = setting
    return found


def path_of(tool_name, settings):
    """The attribute the tool's setting ``tool_name`` is: one that claims it, or the one its name gives
    (``noise-cut``: ``noise_cut``; ``mode-linear``: ``mode.linear``; ``mode``: the word of ``mode``)."""
    claimed = [path for path, setting in settings.items() if setting.tool == tool_name]
    if claimed:
        return claimed[0]
    first, _, rest = tool_name.partition("-")
    if first in GROUP_CLASSES:
        return f"{first}.{rest.replace('-', '_') or 'value'}"
    name = tool_name.replace("-", "_")
    return f"{name}.value" if name in GROUP_CLASSES else name


def test_every_tool_setting_is_an_attribute_calling_the_same_exports():
    listed = subprocess.run([TOOL, "list", "--json"], capture_output=True, text=True, timeout=30, check=True)
    rows = json.loads(listed.stdout)
    assert len(rows) > 50
    settings = port_settings()
    wrong = {}
    for row in rows:
        path = path_of(row["name"], settings)
        setting = settings.get(path)
        exports = (setting.getter, setting.setter) if setting else "no such attribute"
        if exports != (row["get"], row["set"]):
            wrong[row["name"]] = (path, exports, (row["get"], row["set"]))
    assert wrong == {}


# (what is done, the words of the AttributeError)
REFUSED = [
    (lambda amp: setattr(amp, "noise_cutt", 0.5), "noise_cutt"),
    (lambda amp: setattr(amp.mode, "linaer", True), "linaer"),
    (lambda amp: setattr(amp.display, "units", 7), "units"),
    (lambda amp: amp.sampling_rate, "sampling_rate"),
    (lambda amp: setattr(amp, "model", 3), "model is read only"),
    (lambda amp: setattr(amp.mode, "lock", True), "lock is read only"),
    (lambda amp: amp.transmit, "transmit is write only"),
]


@pytest.mark.parametrize("action, words", REFUSED)
def test_names_a_port_does_not_take_raise_attribute_error(action, words):
    amp = nxtka.Port(900)  # never activated: the refusal comes before any call
    with pytest.raises(AttributeError) as e:
        action(amp)
    assert words in str(e.value)
