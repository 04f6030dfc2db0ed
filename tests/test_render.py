#!/usr/bin/python3
"""korvel-render on small generated files: its options, its errors, latency and state.

    test_render.py PATH_TO_KORVEL_RENDER
"""
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
import wavfile  # noqa: E402

RENDER = None
RATE = 48000
LINEAR_GAIN = 0.6366197 * 1.57


def tone(seconds=0.5, channels=2, amplitude=0.25, frequency=1000.0):
    t = np.arange(int(RATE * seconds)) / RATE
    x = amplitude * np.sin(2 * np.pi * frequency * t)
    return np.stack([x] * channels, axis=1)


def click(at=1000, frames=4000, channels=2):
    x = np.zeros((frames, channels))
    x[at, :] = 0.5
    return x


class RenderTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = Path(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def file(self, name, samples=None):
        p = self.path / name
        if samples is not None:
            wavfile.write_float(p, RATE, samples)
        return p

    def run_render(self, *args):
        return subprocess.run([RENDER, *map(str, args)], capture_output=True, text=True, timeout=120)

    def render(self, samples, *options):
        """Renders samples as float and returns the output's samples."""
        src = self.file("in.wav", samples)
        out = self.path / "out.wav"
        result = self.run_render(src, out, "--format", "float", *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        rate, y, kind = wavfile.read(out)
        self.assertEqual((rate, kind), (RATE, "float32"))
        return y

    # ------------------------------------------------------------------------------------
    def test_parameters_in_the_users_words(self):
        x = tone()
        plain = self.render(x)
        settled = slice(len(x) // 2, None)
        rms = lambda y: np.sqrt(np.mean(y[settled] ** 2))  # noqa: E731

        cases = [
            (["--gain", "10"], lambda y: self.assertEqual(np.abs(y).max(), 0.0)),
            (["--power", "off"], lambda y: np.testing.assert_array_equal(y, x.astype(np.float32))),
            (["--phase", "on"], lambda y: np.testing.assert_allclose(y, -plain, atol=1e-7)),
            (["--trim", "-6"], lambda y: self.assertAlmostEqual(rms(y) / rms(plain), 10 ** (-6 / 20), places=4)),
            (["--trim", "-3.4", "--phase", "ON"], lambda y: self.assertAlmostEqual(rms(y) / rms(plain), 10 ** (-3.4 / 20), places=4)),
            (["--gain", "80"], lambda y: self.assertGreater(rms(y), 0.0)),
            (["--oversampling", "2x"], lambda y: self.assertAlmostEqual(rms(y) / rms(plain), 1.0, places=3)),
            (["--oversampling", "Off", "--gain", "20"], lambda y: np.testing.assert_array_equal(y, plain)),
        ]
        self.assertAlmostEqual(rms(plain) / (0.25 / np.sqrt(2)), LINEAR_GAIN, places=3)
        for options, check in cases:
            with self.subTest(options=options):
                check(self.render(x, *options))

        # A saturating step adds harmonics that a linear one does not.
        driven = self.render(x, "--gain", "80")[settled, 0]
        spectrum = np.abs(np.fft.rfft(driven * np.hanning(len(driven))))
        bin_of = lambda f: int(round(f * len(driven) / RATE))  # noqa: E731
        self.assertGreater(spectrum[bin_of(3000)] / spectrum[bin_of(1000)], 1e-3)

    def test_block_size_format_and_both_plugin_formats_agree(self):
        x = tone(channels=2) + 0.01
        reference = self.render(x, "--gain", "50", "--oversampling", "4x")
        np.testing.assert_array_equal(self.render(x, "--gain", "50", "--oversampling", "4x", "--block", "64"), reference)
        np.testing.assert_allclose(self.render(x, "--gain", "50", "--oversampling", "4x", "--lv2"), reference, atol=1e-6)
        build = Path(RENDER).resolve().parent.parent
        vst3 = next(build.glob("Korvel_artefacts/*/VST3/KORVEL V2.vst3"))
        np.testing.assert_array_equal(self.render(x, "--gain", "50", "--oversampling", "4x", "--plugin", vst3), reference)

        # 24-bit PCM by default, at the input's rate, mono stays mono.
        src = self.file("mono.wav", tone(channels=1))
        out = self.path / "mono-out.wav"
        self.assertEqual(self.run_render(src, out).returncode, 0)
        rate, y, kind = wavfile.read(out)
        self.assertEqual((rate, kind, y.shape[1], len(y)), (RATE, "pcm24", 1, int(RATE * 0.5)))

    def test_latency_is_compensated_unless_asked_not_to(self):
        x = click(at=1000)
        for choice, latency in [("off", 0), ("2x", 49), ("4x", 59)]:
            with self.subTest(oversampling=choice):
                y = self.render(x, "--oversampling", choice)
                self.assertEqual(len(y), len(x))
                self.assertEqual(int(np.argmax(np.abs(y[:, 0]))), 1000)
                raw = self.render(x, "--oversampling", choice, "--no-latency-compensation")
                self.assertEqual(int(np.argmax(np.abs(raw[:, 0]))), 1000 + latency)
                # Power off keeps the same alignment.
                bypassed = self.render(x, "--oversampling", choice, "--power", "off")
                self.assertEqual(int(np.argmax(np.abs(bypassed[:, 0]))), 1000)

    def test_state_file_round_trip(self):
        x = tone() + 0.005
        state = self.path / "settings.state"
        first = self.render(x, "--gain", "60", "--trim", "-3.4", "--phase", "on", "--oversampling", "2x", "--save-state", state)
        self.assertGreater(state.stat().st_size, 0)
        again = self.render(x, "--state", state)
        np.testing.assert_array_equal(again, first)
        # Options given with --state win over it.
        louder = self.render(x, "--state", state, "--trim", "0")
        self.assertGreater(np.abs(louder).max(), np.abs(first).max())

    def test_other_input_formats(self):
        for suffix in ["aiff", "flac", "wav"]:
            with self.subTest(format=suffix):
                src = self.path / f"tone.{suffix}"
                subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", str(src), "synth", "0.2", "sine", "440"], check=True)
                out = self.path / f"tone-{suffix}.wav"
                result = self.run_render(src, out)
                self.assertEqual(result.returncode, 0, result.stderr)
                rate, y, _ = wavfile.read(out)
                self.assertEqual((rate, len(y)), (44100, 8820))
                self.assertIn("LED", result.stdout)

    def test_errors_are_refused_with_a_clear_line(self):
        good = self.file("good.wav", tone(0.1))
        six = self.file("six.wav", np.zeros((100, 6)))
        junk = self.path / "junk.wav"
        junk.write_bytes(b"not audio at all")
        link = self.path / "link.wav"
        os.symlink(good, link)
        out = self.path / "out.wav"

        cases = [
            ([self.path / "missing.wav", out], 2, "no such file"),
            ([junk, out], 2, "cannot read"),
            ([six, out], 2, "6 channels"),
            ([good, out, "--drive", "3"], 2, "unknown option --drive"),
            ([good, out, "--gain", "55"], 2, "--gain must be 10, 20, 30, 40, 50, 60, 70 or 80"),
            ([good, out, "--trim", "13"], 2, "from -48 to 12"),
            ([good, out, "--trim", "loud"], 2, "from -48 to 12"),
            ([good, out, "--phase", "maybe"], 2, "on or off"),
            ([good, out, "--oversampling", "8x"], 2, "off, 2x or 4x"),
            ([good, out, "--format", "16"], 2, "--format must be 24 or float"),
            ([good, out, "--block", "0"], 2, "--block must be a whole number"),
            ([good, out, "--gain"], 2, "--gain needs a value"),
            ([good], 2, "give an input and an output"),
            ([good, good], 2, "would overwrite the input"),
            ([good, link], 2, "would overwrite the input"),
            ([good, out, "--plugin", self.path / "nothing.vst3"], 1, "no plug-in at"),
            ([good, out, "--state", self.path / "nothing.state"], 2, "cannot read the state file"),
        ]
        for args, code, message in cases:
            with self.subTest(args=[str(a) for a in args]):
                result = self.run_render(*args)
                self.assertEqual(result.returncode, code, result.stderr)
                lines = result.stderr.strip().splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn(message, lines[0])
                self.assertTrue(lines[0].startswith("korvel-render: "))
                # Nothing half-written is left behind, and the input is untouched.
                self.assertFalse(out.exists())
                self.assertEqual(sorted(p.name for p in self.path.glob(".tmp-*")), [])
        self.assertEqual(wavfile.read(good)[1].shape, (4800, 2))

    def test_help(self):
        result = self.run_render("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("usage: korvel-render IN OUT", result.stdout)


if __name__ == "__main__":
    RENDER = sys.argv.pop(1)
    unittest.main(verbosity=2)
