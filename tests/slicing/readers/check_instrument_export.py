#!/usr/bin/env python3
"""The instrument exports read back by real readers: cleavix-cli export cuts a generated loop into
16ths and writes an SFZ, a MIDI file and a Hydrogen kit; mido reads the MIDI file (notes, times,
tempo), a strict SFZ parser reads the regions and sox reads every sample they name, and python's
XML parser reads drumkit.xml, checked field by field against the drumkit_info layout Hydrogen reads.
xmllint validates every drumkit.xml against the schema Hydrogen ships (Debian's hydrogen-data), for
the kits a user meets: mono and stereo loops, named and unnamed, XML-special and non-ASCII names,
64 slices, white keys, one channel of unlinked stereo, AIFF slices; Hydrogen's own kits pass the
same command first, so a refusal is ours.

usage: check_instrument_export.py CLEAVIX_CLI SOX XMLLINT"""
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
XMLLINT = shutil.which(sys.argv[3] if len(sys.argv) > 3 and not sys.argv[3].endswith("NOTFOUND") else "xmllint")
HYDROGEN_DATA = "/usr/share/hydrogen/data"
SCHEMA = os.path.join(HYDROGEN_DATA, "xsd", "drumkit.xsd")
HYDROGEN_KITS = ["GMRockKit", "TR808EmulationKit"]
NS = "{http://www.hydrogen-music.org/drumkit}"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def write_loop(path, frames, rate, channels=2):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        data = bytearray()
        for i in range(frames):
            v = int(8000 * math.sin(2 * math.pi * 110 * i / rate) * math.exp(-((i % 5512) / 2000.0)))
            data += struct.pack("<hh", v, -v) if channels == 2 else struct.pack("<h", v)
        w.writeframes(bytes(data))


def export(folder, *extra, source="in.wav", out=None, grid=("--grid", "16", "--bars", "1", "--beats", "0")):
    args = [CLI, "export", os.path.join(folder, source), "--out", out or os.path.join(folder, "slices", "loop.wav"),
            "--sensitivity", "50"] + list(grid) + list(extra)
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


INSTRUMENT_FIELDS = ["id", "name", "volume", "isMuted", "isSoloed", "pan_L", "pan_R", "pitchOffset",
                     "randomPitchFactor", "gain",
                     "applyVelocity", "filterActive", "filterCutoff", "filterResonance", "Attack", "Decay", "Sustain",
                     "Release", "muteGroup", "midiOutChannel", "midiOutNote", "isStopNote", "sampleSelectionAlgo",
                     "isHihat", "lower_cc", "higher_cc", "FX1Level", "FX2Level", "FX3Level", "FX4Level",
                     "instrumentComponent"]
UNIT = ["pan_L", "pan_R", "randomPitchFactor", "filterCutoff", "filterResonance", "Attack", "Decay", "Sustain"]
BOOL = ["isMuted", "isSoloed", "applyVelocity", "filterActive", "isStopNote"]


def tags(element):
    return [child.tag[len(NS):] if child.tag.startswith(NS) else child.tag for child in element]


def validate(path):
    """xmllint against Hydrogen's drumkit.xml schema; its messages, or empty when it validates."""
    lint = subprocess.run([XMLLINT, "--noout", "--schema", SCHEMA, path], capture_output=True, text=True)
    return "" if lint.returncode == 0 else (lint.stderr.strip() or "xmllint exit status %d" % lint.returncode)


def check_kit(folder, name, roots, files):
    path = os.path.join(folder, "drumkit.xml")
    problem = validate(path)
    check(not problem, "%s validates against Hydrogen's schema: %s" % (path, problem))
    root = ET.parse(path).getroot()
    check(root.tag == NS + "drumkit_info", "the root is drumkit_info in Hydrogen's namespace")
    check(tags(root) == ["name", "author", "info", "license", "image", "imageLicense", "componentList",
                         "instrumentList"], "drumkit_info fields %s" % tags(root))
    check(root.find(NS + "name").text == name, "the kit's name %r, expected %r" % (root.find(NS + "name").text, name))
    components = root.find(NS + "componentList")
    check(tags(components) == ["drumkitComponent"] and
          tags(components[0]) == ["id", "name", "volume"], "one drumkit component")
    instruments = root.find(NS + "instrumentList")
    check(len(instruments) == len(files), "%d instruments, not %d" % (len(files), len(instruments)))
    for i, instrument in enumerate(instruments):
        check(tags(instrument) == INSTRUMENT_FIELDS, "instrument %d fields %s" % (i, tags(instrument)))
        value = lambda field: instrument.find(NS + field).text
        check(int(value("id")) == i, "instrument %d id" % i)
        for field in UNIT:
            check(0.0 <= float(value(field)) <= 1.0, "instrument %d %s in 0..1" % (i, field))
        for field in BOOL:
            check(value(field) in ("true", "false"), "instrument %d %s is a bool" % (i, field))
        check(int(value("Release")) >= 0, "instrument %d release" % i)
        check(int(value("midiOutNote")) == roots[i], "instrument %d answers key %d" % (i, roots[i]))
        component = instrument.find(NS + "instrumentComponent")
        check(tags(component) == ["component_id", "gain", "layer"], "instrument %d component" % i)
        layer = component.find(NS + "layer")
        check(tags(layer) == ["filename", "min", "max", "gain", "pitch"], "instrument %d layer fields" % i)
        filename = layer.find(NS + "filename").text
        check(filename == files[i], "instrument %d plays %r, expected %r" % (i, filename, files[i]))
        check(value("name") == os.path.splitext(files[i])[0], "instrument %d is named %r" % (i, value("name")))
        sample = os.path.join(folder, filename)
        info = subprocess.run([SOX, "--i", "-s", sample], capture_output=True, text=True)
        check(info.returncode == 0, "sox reads the kit's %s: %s" % (sample, info.stderr.strip()))


def check_hydrogen_schema():
    """The schema and Hydrogen's own kits, which must validate with the same command as ours."""
    if not XMLLINT or not os.path.isfile(SCHEMA):
        check(False, "xmllint (%s) and Hydrogen's schema %s are needed: scripts/install-deps.sh installs "
              "libxml2-utils and hydrogen-data" % (XMLLINT, SCHEMA))
        return False
    for kit in HYDROGEN_KITS:
        path = os.path.join(HYDROGEN_DATA, "drumkits", kit, "drumkit.xml")
        problem = validate(path)
        check(not problem, "Hydrogen's own %s validates: %s" % (path, problem))
    # And the command can refuse: a kit missing a field the schema requires.
    broken = ET.parse(os.path.join(HYDROGEN_DATA, "drumkits", HYDROGEN_KITS[1], "drumkit.xml")).getroot()
    broken.remove(broken.find(NS + "author"))
    with tempfile.NamedTemporaryFile("wb", suffix=".xml") as f:
        f.write(ET.tostring(broken))
        f.flush()
        check(validate(f.name) != "", "the schema refuses a kit with no author")
    return not failures


def check_kit_cases(folder):
    """The kits a user meets, each validated and read back."""
    rate = 44100
    write_loop(os.path.join(folder, "mono.wav"), 88200, rate, channels=1)
    write_loop(os.path.join(folder, "long.wav"), 4 * 44100, rate)
    white = [48 + 12 * (i // 7) + [0, 2, 4, 5, 7, 9, 11][i % 7] for i in range(16)]
    odd = "R&B <\"x\"> 'd\u00e9j\u00e0' \u9f13"
    os.mkdir(os.path.join(folder, odd))
    cases = [
        # what, export options, kit name, roots, file name for slice i
        ("mono, no name", dict(source="mono.wav"), [], "Vantrel", [48 + i for i in range(16)],
         lambda i: "loop%02d.wav" % (i + 1)),
        ("XML-special and non-ASCII names", dict(out=os.path.join(folder, odd, odd + ".wav")),
         ["--bank", "Kit & <Co> \"x\" 'y' \u00fc\u00df \u592a\u9f13"], "Kit & <Co> \"x\" 'y' \u00fc\u00df \u592a\u9f13",
         [48 + i for i in range(16)], lambda i: "%s%02d.wav" % (odd, i + 1)),
        ("64 slices", dict(source="long.wav", grid=("--grid", "32", "--bars", "2", "--beats", "0")), [], "Vantrel",
         [48 + i for i in range(64)], lambda i: "loop%02d.wav" % (i + 1)),
        ("white keys", {}, ["--white-keys", "--bank", "W"], "W", white, lambda i: "loop%02d.wav" % (i + 1)),
        ("left channel of unlinked stereo", {}, ["--unlinked", "--channel", "left"], "Vantrel",
         [48 + i for i in range(16)], lambda i: "loop%02dL.wav" % (i + 1)),
        ("8-bit AIFF slices", dict(out=os.path.join(folder, "slices", "beat.aif")), ["--bits", "8"], "Vantrel",
         [48 + i for i in range(16)], lambda i: "beat%02d.aif" % (i + 1)),
    ]
    for number, (what, where, extra, name, roots, file_name) in enumerate(cases):
        kit = os.path.join(folder, "kit %d %s" % (number, odd if "non-ASCII" in what else ""))
        done = export(folder, "--hydrogen", kit, *extra, **where)
        check(done.returncode == 0, "%s: the export succeeds: %s" % (what, done.stderr.strip()))
        if done.returncode == 0:
            check_kit(kit, name, roots, [file_name(i) for i in range(len(roots))])


def main():
    rate, frames = 44100, 88200  # two seconds: one bar of 4/4 at 120 BPM
    schema = check_hydrogen_schema()
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
        if schema:
            check_kit(kit, "Kit & Co", [k[2] for k in keys], ["loop%02d.wav" % (i + 1) for i in range(16)])
            check_kit_cases(folder)

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
