#!/usr/bin/env python3
"""The instrument exports read back by real readers: cleavix-cli export cuts a generated loop into
16ths and writes an SFZ, a MIDI file and a Hydrogen kit; mido reads the MIDI file (notes, times,
tempo), a strict SFZ parser reads the regions and sox reads every sample they name, and python's
XML parser (and xmllint when installed) reads drumkit.xml, checked field by field against the
drumkit_info layout Hydrogen reads.

usage: check_instrument_export.py CLEAVIX_CLI SOX [XMLLINT]"""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave
import xml.etree.ElementTree as ET

import mido

CLI, SOX = sys.argv[1], sys.argv[2]
XMLLINT = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else shutil.which("xmllint")
NS = "{http://www.hydrogen-music.org/drumkit}"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def write_loop(path, frames, rate):
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        data = bytearray()
        for i in range(frames):
            v = int(8000 * math.sin(2 * math.pi * 110 * i / rate) * math.exp(-((i % 5512) / 2000.0)))
            data += struct.pack("<hh", v, -v)
        w.writeframes(bytes(data))


def export(folder, *extra):
    args = [CLI, "export", os.path.join(folder, "in.wav"), "--out", os.path.join(folder, "slices", "loop.wav"),
            "--sensitivity", "50", "--grid", "16", "--bars", "1", "--beats", "0"] + list(extra)
    return subprocess.run(args, capture_output=True, text=True)


# --- SFZ: the header lines the writer uses, then "<region>" lines of opcode=value, sample last ---
def parse_sfz(text):
    regions, group = [], {}
    current = None
    for number, line in enumerate(text.split("\n"), 1):
        if not line or line.startswith("//"):
            continue
        if line == "<group>":
            current = group
            continue
        if line.startswith("<region> "):
            region, rest = {}, line[len("<region> "):]
            while rest:
                key, eq, value = rest.partition("=")
                if not eq or not key.isidentifier():
                    raise ValueError("line %d: bad opcode %r" % (number, rest))
                if key == "sample":
                    region[key] = value
                    break
                value, _, rest = value.partition(" ")
                if key in region:
                    raise ValueError("line %d: %s twice" % (number, key))
                region[key] = value
            regions.append(region)
            continue
        key, eq, value = line.partition("=")
        if current is None or not eq or " " in line:
            raise ValueError("line %d: %r outside a header" % (number, line))
        current[key] = value
    return group, regions


def check_sfz(path, folder, keys):
    group, regions = parse_sfz(open(path, encoding="utf-8").read())
    check(group.get("loop_mode") == "one_shot", "the SFZ group plays one-shots")
    check(len(regions) == 16, "16 SFZ regions, not %d" % len(regions))
    for i, region in enumerate(regions):
        check(set(region) == {"lokey", "hikey", "pitch_keycenter", "loop_mode", "sample"},
              "region %d opcodes %s" % (i, sorted(region)))
        check((int(region["lokey"]), int(region["hikey"]), int(region["pitch_keycenter"])) == keys[i],
              "region %d keys %s, expected %s" % (i, region, keys[i]))
        check(region["loop_mode"] == "one_shot", "region %d is a one-shot" % i)
        sample = os.path.join(os.path.dirname(path), region["sample"])
        check(not os.path.isabs(region["sample"]), "region %d names its sample relatively" % i)
        check(os.path.realpath(sample) == os.path.realpath(os.path.join(folder, "slices", "loop%02d.wav" % (i + 1))),
              "region %d sample %s" % (i, region["sample"]))
        info = subprocess.run([SOX, "--i", "-s", sample], capture_output=True, text=True)
        check(info.returncode == 0 and int(info.stdout.strip() or 0) > 0,
              "sox reads region %d's sample %s: %s" % (i, sample, info.stderr.strip()))


def check_midi(path, name, loop_frames, rate, notes):
    midi = mido.MidiFile(path)
    check(midi.type == 0 and len(midi.tracks) == 1, "a format 0 file with one track")
    check(midi.ticks_per_beat == 480, "480 ticks per quarter")
    tick, ons, offs, tempos, names = 0, [], [], [], []
    for message in midi.tracks[0]:
        tick += message.time
        if message.type == "set_tempo":
            tempos.append((tick, message.tempo))
        elif message.type == "track_name":
            names.append(message.name)
        elif message.type == "note_on" and message.velocity > 0:
            ons.append((tick, message.note))
        elif message.type == "note_off" or (message.type == "note_on" and message.velocity == 0):
            offs.append((tick, message.note))
    check(names == [name], "track name %s" % names)
    seconds = loop_frames / rate
    expected_tempo = round(seconds / 4 * 1e6)  # one bar of 4/4: 4 quarters
    check(tempos == [(0, expected_tempo)], "tempo %s, expected %d" % (tempos, expected_tempo))
    check(abs(midi.length - seconds) < 1e-3, "the file lasts the loop: %f s against %f s" % (midi.length, seconds))
    check([t for t, _ in ons] == [120 * i for i in range(16)], "notes at every 16th: %s" % [t for t, _ in ons])
    check([n for _, n in ons] == notes, "note keys %s, expected %s" % ([n for _, n in ons], notes))
    check([t for t, _ in offs] == [120 * (i + 1) for i in range(16)], "each note held to the next slice")


INSTRUMENT_FIELDS = ["id", "name", "volume", "isMuted", "pan_L", "pan_R", "randomPitchFactor", "gain",
                     "applyVelocity", "filterActive", "filterCutoff", "filterResonance", "Attack", "Decay", "Sustain",
                     "Release", "muteGroup", "midiOutChannel", "midiOutNote", "isStopNote", "sampleSelectionAlgo",
                     "isHihat", "lower_cc", "higher_cc", "FX1Level", "FX2Level", "FX3Level", "FX4Level",
                     "instrumentComponent"]
UNIT = ["pan_L", "pan_R", "randomPitchFactor", "filterCutoff", "filterResonance", "Attack", "Decay", "Sustain"]
BOOL = ["isMuted", "applyVelocity", "filterActive", "isStopNote"]


def tags(element):
    return [child.tag[len(NS):] if child.tag.startswith(NS) else child.tag for child in element]


def check_kit(folder, name, keys):
    path = os.path.join(folder, "drumkit.xml")
    root = ET.parse(path).getroot()
    check(root.tag == NS + "drumkit_info", "the root is drumkit_info in Hydrogen's namespace")
    check(tags(root) == ["name", "author", "info", "license", "componentList", "instrumentList"],
          "drumkit_info fields %s" % tags(root))
    check(root.find(NS + "name").text == name, "the kit's name")
    components = root.find(NS + "componentList")
    check(tags(components) == ["drumkitComponent"] and
          tags(components[0]) == ["id", "name", "volume"], "one drumkit component")
    instruments = root.find(NS + "instrumentList")
    check(len(instruments) == 16, "16 instruments, not %d" % len(instruments))
    for i, instrument in enumerate(instruments):
        check(tags(instrument) == INSTRUMENT_FIELDS, "instrument %d fields %s" % (i, tags(instrument)))
        value = lambda field: instrument.find(NS + field).text
        check(int(value("id")) == i, "instrument %d id" % i)
        for field in UNIT:
            check(0.0 <= float(value(field)) <= 1.0, "instrument %d %s in 0..1" % (i, field))
        for field in BOOL:
            check(value(field) in ("true", "false"), "instrument %d %s is a bool" % (i, field))
        check(int(value("Release")) >= 0, "instrument %d release" % i)
        check(int(value("midiOutNote")) == keys[i][2], "instrument %d answers key %d" % (i, keys[i][2]))
        component = instrument.find(NS + "instrumentComponent")
        check(tags(component) == ["component_id", "gain", "layer"], "instrument %d component" % i)
        layer = component.find(NS + "layer")
        check(tags(layer) == ["filename", "min", "max", "gain", "pitch"], "instrument %d layer fields" % i)
        sample = os.path.join(folder, layer.find(NS + "filename").text)
        check(os.path.dirname(layer.find(NS + "filename").text) == "", "instrument %d's file lies in the kit" % i)
        info = subprocess.run([SOX, "--i", "-s", sample], capture_output=True, text=True)
        check(info.returncode == 0, "sox reads the kit's %s: %s" % (sample, info.stderr.strip()))
    if XMLLINT:
        lint = subprocess.run([XMLLINT, "--noout", path], capture_output=True, text=True)
        check(lint.returncode == 0, "xmllint reads drumkit.xml: %s" % lint.stderr.strip())


def main():
    rate, frames = 44100, 88200  # two seconds: one bar of 4/4 at 120 BPM
    with tempfile.TemporaryDirectory() as folder:
        write_loop(os.path.join(folder, "in.wav"), frames, rate)
        os.mkdir(os.path.join(folder, "slices"))
        os.mkdir(os.path.join(folder, "inst"))
        sfz, mid, kit = (os.path.join(folder, "inst", "Kit & Co.sfz"), os.path.join(folder, "inst", "loop.mid"),
                         os.path.join(folder, "kit"))
        done = export(folder, "--sfz", sfz, "--midi", mid, "--hydrogen", kit, "--bank", "Kit & Co", "--note", "D",
                      "--octave", "1", "--interval", "2")
        if done.returncode != 0:
            print("FAIL: export:", done.stderr.strip())
            return 1
        # D1 = 38, roots 3 keys apart, one key either side.
        keys = [(38 + 3 * i - 1, 38 + 3 * i + 1, 38 + 3 * i) for i in range(16)]
        check_sfz(sfz, folder, keys)
        check_midi(mid, "Kit & Co", frames, rate, [38 + 3 * i for i in range(16)])
        check_kit(kit, "Kit & Co", keys)

        # Reversed and white keys: the notes walk down the white keys from the last slice's.
        done = export(folder, "--midi", mid, "--white-keys", "--reverse-notes")
        check(done.returncode == 0, "the reversed export succeeds: %s" % done.stderr.strip())
        white = [48 + 12 * (i // 7) + [0, 2, 4, 5, 7, 9, 11][i % 7] for i in range(16)]
        check_midi(mid, "Vantrel", frames, rate, list(reversed(white)))

        # No tempo: refused with the reason, and nothing written.
        before = sorted(os.listdir(os.path.join(folder, "inst")))
        args = [CLI, "export", os.path.join(folder, "in.wav"), "--out", os.path.join(folder, "inst", "x.wav"),
                "--sensitivity", "50", "--midi", os.path.join(folder, "inst", "none.mid")]
        refused = subprocess.run(args, capture_output=True, text=True)
        check(refused.returncode == 1 and "tempo" in refused.stderr, "no tempo is refused: %s" % refused.stderr)
        check(sorted(os.listdir(os.path.join(folder, "inst"))) == before, "a refused export writes nothing")
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("instrument exports read back: SFZ, MIDI and drum kit all as written")
    return 0


sys.exit(main())
