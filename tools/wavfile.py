"""Reads and writes the WAV files korvel-render deals in, with numpy only.

read(path) -> (rate, samples as float64 of shape [frames, channels], format)
where format is "pcm16", "pcm24", "pcm32" or "float32".
"""
import struct

import numpy as np


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a WAV file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if chunk == b"fmt ":
            code, channels, rate = struct.unpack("<HHI", body[:8])
            bits = struct.unpack("<H", body[14:16])[0]
            if code == 0xFFFE:  # extensible: the real code is in the sub-format
                code = struct.unpack("<H", body[24:26])[0]
            fmt = (code, channels, rate, bits)
        elif chunk == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None:
        raise ValueError(f"{path}: no fmt or data chunk")
    code, channels, rate, bits = fmt
    if code == 3 and bits == 32:
        x, kind = np.frombuffer(samples, "<f4").astype(np.float64), "float32"
    elif code == 1 and bits == 16:
        x, kind = np.frombuffer(samples, "<i2") / 32768.0, "pcm16"
    elif code == 1 and bits == 24:
        b = np.frombuffer(samples, np.uint8).reshape(-1, 3).astype(np.int32)
        v = b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)
        x, kind = np.where(v >= 1 << 23, v - (1 << 24), v) / 8388608.0, "pcm24"
    elif code == 1 and bits == 32:
        x, kind = np.frombuffer(samples, "<i4") / 2147483648.0, "pcm32"
    else:
        raise ValueError(f"{path}: unsupported WAV format {code}/{bits} bits")
    return rate, x.reshape(-1, channels), kind


def write_float(path, rate, samples):
    """Writes samples of shape [frames, channels] as a 32-bit float WAV."""
    samples = np.asarray(samples, dtype="<f4")
    if samples.ndim == 1:
        samples = samples[:, None]
    frames, channels = samples.shape
    body = samples.tobytes()
    fmt = struct.pack("<HHIIHH", 3, channels, rate, rate * channels * 4, channels * 4, 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(body)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(body)) + body)
