#!/usr/bin/env python3
"""An exported drum kit played by Hydrogen itself: cleavix-cli export cuts a generated loop into
16ths and writes a Hydrogen kit; Hydrogen's h2cli checks the kit, then renders a one-bar song that
strikes each instrument on its 16th with the kit loaded by -k. The song's own instruments play
another kit's sample, so only a kit Hydrogen has read from our drumkit.xml gives back the loop: each
16th of the render must be that slice of the loop (correlation, both channels), all at one gain.

usage: check_hydrogen_render.py CLEAVIX_CLI H2CLI"""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

CLI, H2CLI = sys.argv[1], sys.argv[2]
RATE, FRAMES, SLICES = 44100, 88200, 16  # one bar of 4/4 at 120 BPM
EARLY = 64
DEFAULT_CONF = "/usr/share/hydrogen/data/hydrogen.default.conf"
OTHER_SAMPLE = "/usr/share/hydrogen/data/drumkits/TR808EmulationKit/808_Clap.flac"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def loop_frames(channels):
    # Each 16th its own pitch and each channel its own wave, so a slice played in the wrong place
    # or channel does not match.
    frames = []
    for i in range(FRAMES):
        slice_index, t = divmod(i, FRAMES // SLICES)
        envelope = math.exp(-t / 1500.0)
        left = 9000 * envelope * math.sin(2 * math.pi * (200 + 45 * slice_index) * i / RATE)
        right = 9000 * envelope * math.sin(2 * math.pi * (330 + 70 * slice_index) * i / RATE + 1.0)
        frames.append((int(left), int(right)) if channels == 2 else (int(left),))
    return frames


def write_wave(path, frames, channels):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<%dh" % channels, *f) for f in frames))


def read_wave(path):
    with wave.open(path, "rb") as w:
        channels, width, data = w.getnchannels(), w.getsampwidth(), w.readframes(w.getnframes())
    if width != 2:
        raise ValueError("%s: %d-byte samples" % (path, width))
    values = struct.unpack("<%dh" % (len(data) // 2), data)
    return [values[c::channels] for c in range(channels)]


def song_xml(count):
    # Placeholder instruments: the clap of Hydrogen's TR-808 kit, which -k must replace with ours.
    instruments = "".join(
        "  <instrument><id>%d</id><name>placeholder %d</name><drumkit>TR808EmulationKit</drumkit>"
        "<volume>1</volume><isMuted>false</isMuted><isSoloed>false</isSoloed><pan>0</pan><gain>1</gain>"
        "<applyVelocity>true</applyVelocity><filterActive>false</filterActive><Attack>0</Attack><Decay>0</Decay>"
        "<Sustain>1</Sustain><Release>1000</Release><muteGroup>-1</muteGroup>"
        "<sampleSelectionAlgo>VELOCITY</sampleSelectionAlgo><isHihat>-1</isHihat><lower_cc>0</lower_cc>"
        "<higher_cc>127</higher_cc><instrumentComponent><component_id>0</component_id><gain>1</gain><layer>"
        "<filename>%s</filename><min>0</min><max>1</max><gain>1</gain><pitch>0</pitch></layer>"
        "</instrumentComponent></instrument>\n" % (i, i, OTHER_SAMPLE) for i in range(count))
    notes = "".join(
        "    <note><position>%d</position><leadlag>0</leadlag><velocity>1</velocity><pan>0</pan><pitch>0</pitch>"
        "<probability>1</probability><key>C0</key><length>-1</length><instrument>%d</instrument>"
        "<note_off>false</note_off></note>\n" % (12 * i, i) for i in range(count))
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<song>\n <version>1.2.0</version>\n <bpm>120</bpm>\n"
            " <volume>1</volume>\n <metronomeVolume>0</metronomeVolume>\n <name>slices</name>\n <author></author>\n"
            " <notes></notes>\n <license></license>\n <loopEnabled>false</loopEnabled>\n <mode>song</mode>\n"
            " <humanize_time>0</humanize_time>\n <humanize_velocity>0</humanize_velocity>\n"
            " <swing_factor>0</swing_factor>\n <componentList><drumkitComponent><id>0</id><name>Main</name>"
            "<volume>1</volume></drumkitComponent></componentList>\n <instrumentList>\n" + instruments +
            " </instrumentList>\n <patternList>\n  <pattern>\n   <name>bar</name>\n   <category>slices</category>\n"
            "   <size>192</size>\n   <denominator>4</denominator>\n   <info></info>\n   <noteList>\n" + notes +
            "   </noteList>\n  </pattern>\n </patternList>\n <patternSequence>\n  <group><patternID>bar</patternID>"
            "</group>\n </patternSequence>\n</song>\n")


def h2cli(home, *args):
    # The fake audio driver: no JACK, ALSA or sound card, and no wait for a JACK server.
    os.makedirs(os.path.join(home, ".hydrogen"), exist_ok=True)
    conf = os.path.join(home, ".hydrogen", "hydrogen.conf")
    if not os.path.exists(conf):
        text = open(DEFAULT_CONF, encoding="utf-8").read()
        if "<audio_driver>Auto</audio_driver>" not in text:
            raise RuntimeError("%s has no audio_driver setting to change" % DEFAULT_CONF)
        open(conf, "w", encoding="utf-8").write(text.replace("<audio_driver>Auto</audio_driver>",
                                                             "<audio_driver>Fake</audio_driver>"))
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="offscreen")
    return subprocess.run([H2CLI] + list(args), capture_output=True, text=True, env=env, timeout=120)


def correlation(a, b):
    dot = sum(x * y for x, y in zip(a, b))
    norm = math.sqrt(sum(x * x for x in a) * sum(y * y for y in b))
    return dot / norm if norm else 0.0, (dot / sum(y * y for y in b)) if norm else 0.0


def check_render(folder, channels):
    what = "%s loop" % ("stereo" if channels == 2 else "mono")
    source = loop_frames(channels)
    write_wave(os.path.join(folder, "in.wav"), source, channels)
    os.mkdir(os.path.join(folder, "slices"))
    kit = os.path.join(folder, "kit")
    done = subprocess.run([CLI, "export", os.path.join(folder, "in.wav"), "--out",
                           os.path.join(folder, "slices", "loop.wav"), "--sensitivity", "50", "--grid", "16", "--bars",
                           "1", "--beats", "0", "--hydrogen", kit, "--bank", "Slices & Co"],
                          capture_output=True, text=True)
    if done.returncode != 0:
        check(False, "%s: export: %s" % (what, done.stderr.strip()))
        return
    home = os.path.join(folder, "home")
    valid = h2cli(home, "-c", kit)
    check(valid.returncode == 0 and "is valid" in valid.stdout,
          "%s: h2cli -c finds the kit valid: %s" % (what, (valid.stdout + valid.stderr)[-600:]))

    song, rendered = os.path.join(folder, "slices.h2song"), os.path.join(folder, "render.wav")
    open(song, "w", encoding="utf-8").write(song_xml(SLICES))
    render = h2cli(home, "-s", song, "-k", kit, "-o", rendered, "-r", str(RATE), "-b", "16")
    log = render.stdout + render.stderr
    check(render.returncode == 0 and os.path.exists(rendered), "%s: h2cli renders: %s" % (what, log[-600:]))
    check("could not be loaded" not in log, "%s: Hydrogen loads the kit: %s" % (what, log[-600:]))
    if not os.path.exists(rendered):
        return
    out = read_wave(rendered)
    check(len(out) == 2 and len(out[0]) >= FRAMES - 1024,
          "%s: a stereo render of the bar: %d channels, %d frames" % (what, len(out), len(out[0]) if out else 0))
    if len(out) != 2:
        return
    # Hydrogen starts a note up to a few dozen frames off its tick (its own scheduling), so each
    # slice is looked for within EARLY frames of its place, away from the edges its neighbours share.
    step, edge = FRAMES // SLICES, 2 * EARLY
    gains = []
    for i in range(SLICES):
        for c in range(2):
            want = [f[c if channels == 2 else 0] for f in source[i * step + edge:(i + 1) * step - edge]]
            r, gain, lag = max(correlation(out[c][i * step + edge + lag:(i + 1) * step - edge + lag], want) + (lag,)
                               for lag in range(-EARLY, EARLY + 1))
            check(r > 0.99, "%s: the render's 16th %d, channel %d, is the slice (correlation %.4f at %d frames)"
                  % (what, i, c, r, lag))
            gains.append(gain)
    check(min(gains) > 0.05 and max(gains) - min(gains) < 0.02 * max(gains),
          "%s: every slice at one gain: %.4f .. %.4f" % (what, min(gains), max(gains)))


def main():
    if not shutil.which(H2CLI) or not os.path.isfile(DEFAULT_CONF):
        print("FAIL: Hydrogen's h2cli (%s) and %s are needed: scripts/install-deps.sh installs hydrogen" %
              (H2CLI, DEFAULT_CONF))
        return 1
    for channels in (1, 2):
        with tempfile.TemporaryDirectory() as folder:
            check_render(folder, channels)
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("Hydrogen loads the exported kits and plays back every slice of the mono and stereo loops")
    return 0


sys.exit(main())
