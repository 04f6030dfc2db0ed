#!/usr/bin/python3
"""Rewrites the scale points of enumerated parameters in a JUCE-generated LV2 dsp.ttl.

JUCE 7.0.5 gives a choice parameter a port range in real units (0 to 2 for three choices)
but writes its scale points as normalised values (0, 0.5, 1), so an LV2 host that offers
the labels would pick the wrong choice. Enumerated parameters step by one from their
minimum, so the i-th scale point belongs at minimum + i. Running it twice changes nothing.
"""
import re
import sys


def fix_block(block: str) -> str:
    if "lv2:enumeration" not in block:
        return block
    minimum = re.search(r"lv2:minimum\s+(-?[0-9.]+)", block)
    if minimum is None:
        return block
    start = float(minimum.group(1))
    counter = iter(range(1 << 30))

    def real_value(match):
        value = start + next(counter)
        text = str(int(value)) if value.is_integer() else repr(value)
        return match.group(1) + text

    return re.sub(r"(rdf:value\s+)-?[0-9.eE+-]+", real_value, block)


def main(path: str) -> None:
    with open(path, encoding="utf-8") as f:
        text = f.read()
    fixed = "\n\n".join(fix_block(b) for b in text.split("\n\n"))
    if fixed != text:
        with open(path, "w", encoding="utf-8") as f:
            f.write(fixed)


if __name__ == "__main__":
    main(sys.argv[1])
