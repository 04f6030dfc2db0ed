#!/usr/bin/python3
"""The demo: renders a short phrase at every gain position, measures it, and draws what the
plug-in does to sound. Everything here is measured on audio that korvel-render produced.

    tools/demo.py KORVEL_RENDER OUT_DIR
"""
import subprocess
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
import wavfile  # noqa: E402

RATE = 48000
POSITIONS = [10, 20, 30, 40, 50, 60, 70, 80]


def run(*args):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True).stdout


def render(tool, src, dst, *options):
    """Renders and returns (samples, the LED colour the tool reported)."""
    summary = run(tool, src, dst, "--format", "float", *options)
    led = summary.rsplit("LED ", 1)[1].strip()
    return wavfile.read(dst)[1], led


def db(x):
    with np.errstate(divide="ignore"):
        return 20 * np.log10(x)


def make_demo_input(out):
    """A spoken phrase over a plucked note, stereo, 48 kHz."""
    speech, pluck, demo = out / "speech.wav", out / "pluck.wav", out / "demo-input.wav"
    run("espeak-ng", "-s", "150", "-w", speech, "This is KORVEL V2, a microphone preamplifier, at every gain position.")
    run("sox", speech, "-r", str(RATE), "-c", "2", "-b", "24", out / "speech48.wav", "gain", "-n", "-6")
    length = float(run("soxi", "-D", out / "speech48.wav"))
    run("sox", "-n", "-r", str(RATE), "-c", "2", "-b", "24", pluck, "synth", f"{length:.3f}", "pluck", "A2", "gain", "-14")
    run("sox", "-m", out / "speech48.wav", pluck, demo, "gain", "-n", "-3")
    for f in (speech, pluck, out / "speech48.wav"):
        f.unlink()
    return demo


def thd(y, frequency=1000.0, harmonics=10):
    """Total harmonic distortion of a settled tone: harmonics 2..10 against the fundamental."""
    y = y[len(y) // 2:]
    window = np.blackman(len(y))
    spectrum = np.abs(np.fft.rfft(y * window))
    bin_width = RATE / len(y)

    def power(f):
        k = int(round(f / bin_width))
        return np.sum(spectrum[max(k - 4, 0):k + 5] ** 2)

    fundamental = power(frequency)
    rest = sum(power(frequency * h) for h in range(2, harmonics + 1) if frequency * h < RATE / 2)
    return np.sqrt(rest / fundamental) if fundamental > 0 else float("nan")


def main():
    tool, out = sys.argv[1], Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    work = out / "work"
    work.mkdir(exist_ok=True)

    demo = make_demo_input(out)
    t = np.arange(RATE * 2) / RATE
    amplitude = 10 ** (-12 / 20)
    tone_file = work / "tone-1k.wav"
    wavfile.write_float(tone_file, RATE, np.stack([amplitude * np.sin(2 * np.pi * 1000 * t)] * 2, axis=1))
    sweep_file = work / "full-scale-sine.wav"
    one_period = np.arange(RATE // 2) / RATE
    wavfile.write_float(sweep_file, RATE, np.sin(2 * np.pi * 200 * one_period)[:, None])

    print("The demo phrase, and a 1 kHz tone at -12 dBFS, at every gain position:")
    print(f"{'gain':>6}  {'out RMS dBFS':>12}  {'out peak dBFS':>13}  {'THD of the tone':>15}  LED on the tone")
    spectra, transfers = {}, {}
    for gain in POSITIONS:
        y, _ = render(tool, demo, out / f"demo-gain{gain}.wav", "--gain", gain)
        tone, led = render(tool, tone_file, work / f"tone-gain{gain}.wav", "--gain", gain)
        curve, _ = render(tool, sweep_file, work / f"transfer-gain{gain}.wav", "--gain", gain)
        spectra[gain] = tone[len(tone) // 2:, 0]
        transfers[gain] = curve[:, 0]
        distortion = thd(tone[:, 0])
        thd_text = "silent" if not np.isfinite(distortion) else f"{100 * distortion:.3g} %"
        print(f"{gain:>6}  {db(np.sqrt(np.mean(y ** 2))):>12.1f}  {db(np.abs(y).max()):>13.1f}  {thd_text:>15}  {led}")

    # Static transfer: a 200 Hz sine at full scale, output against input over its last periods.
    x = np.sin(2 * np.pi * 200 * one_period)
    fig, ax = plt.subplots(figsize=(7, 5))
    last = slice(len(x) - RATE // 200 * 2, len(x))
    for gain in POSITIONS:
        ax.plot(x[last], transfers[gain][last], label=f"gain {gain}" + (" (off)" if gain == 10 else ""), lw=1.2)
    ax.set(xlabel="input", ylabel="output", title="Transfer curve of each gain position (200 Hz, full scale)",
           xlim=(-1, 1))
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, ncol=2)
    fig.tight_layout()
    fig.savefig(out / "transfer-curves.png", dpi=110)

    # Harmonic spectrum of the 1 kHz tone at each position.
    fig, axes = plt.subplots(2, 4, figsize=(14, 6), sharex=True, sharey=True)
    for ax, gain in zip(axes.flat, POSITIONS):
        y = spectra[gain]
        spectrum = np.abs(np.fft.rfft(y * np.blackman(len(y)))) / (np.sum(np.blackman(len(y))) / 2)
        f = np.fft.rfftfreq(len(y), 1 / RATE)
        ax.plot(f / 1000, db(np.maximum(spectrum, 1e-9)), lw=0.8)
        ax.set_title(f"gain {gain}" + (" (off)" if gain == 10 else ""), fontsize=10)
        ax.set_xlim(0, 12)
        ax.set_ylim(-160, 0)
        ax.grid(alpha=0.3)
    for ax in axes[1]:
        ax.set_xlabel("kHz")
    for ax in axes[:, 0]:
        ax.set_ylabel("dBFS")
    fig.suptitle("Spectrum of a 1 kHz tone at -12 dBFS through each gain position")
    fig.tight_layout()
    fig.savefig(out / "harmonic-spectra.png", dpi=100)

    # Frequency response from an impulse: the DC blocker's corner, and the 2x/4x filters near Nyquist.
    n = 1 << 18
    impulse = np.zeros(n)
    impulse[1000] = 0.5
    impulse_file = work / "impulse.wav"
    wavfile.write_float(impulse_file, RATE, impulse[:, None])
    responses = {}
    for choice in ["off", "2x", "4x"]:
        y, _ = render(tool, impulse_file, work / f"impulse-{choice}.wav", "--oversampling", choice)
        responses[choice] = np.abs(np.fft.rfft(y[:, 0])) / 0.5
    f = np.fft.rfftfreq(n, 1 / RATE)

    fig, (low, high) = plt.subplots(1, 2, figsize=(13, 4.5))
    low.semilogx(f[1:], db(responses["off"][1:]), lw=1.2)
    low.axvline(7, color="grey", ls="--", lw=0.8)
    low.axhline(db(responses["off"][np.argmin(np.abs(f - 1000))]) - 3, color="grey", ls=":", lw=0.8)
    corner = f[1:][np.argmin(np.abs(db(responses["off"][1:]) - (db(responses["off"][np.argmin(np.abs(f - 1000))]) - 3)))]
    low.set(xlim=(0.5, 1000), ylim=(-40, 3), xlabel="Hz", ylabel="dB",
            title=f"DC blocker at gain 20: -3 dB at {corner:.1f} Hz")
    low.grid(alpha=0.3, which="both")
    for choice in ["off", "2x", "4x"]:
        high.plot(f / 1000, db(responses[choice]), lw=1.2, label=f"oversampling {choice}")
    high.set(xlim=(15, 24), ylim=(-30, 3), xlabel="kHz", ylabel="dB", title="Near Nyquist at 48 kHz, gain 20")
    high.grid(alpha=0.3)
    high.legend()
    fig.tight_layout()
    fig.savefig(out / "frequency-response.png", dpi=100)

    print(f"\nwrote the demo renders and {', '.join(p.name for p in sorted(out.glob('*.png')))} to {out}")


if __name__ == "__main__":
    main()
