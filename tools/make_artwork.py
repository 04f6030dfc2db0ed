#!/usr/bin/python3
"""Draws the editor's eight pictures into resources/ (or the folder given).

Every object is a height field lit from the upper left, with a soft shadow, rendered at three
times the size and scaled down, so that it reads like photographed hardware. Random texture
comes from fixed seeds: running this again gives the same bytes.

    tools/make_artwork.py [OUTPUT_DIR]
"""
import math
import sys
from pathlib import Path

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

SS = 3  # supersampling factor
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
LIGHT = np.array([-0.45, -0.6, 0.66])
LIGHT /= np.linalg.norm(LIGHT)

# The editor's base size is 1392 x 245; the panel is drawn at 2784 x 491.
PANEL_W, PANEL_H = 2784, 491
SX, SY = PANEL_W / 1392, PANEL_H / 245

# Where the editor places its controls at the base size (x, y, w, h).
GAIN = (195, 52, 142, 142)
TRIM = (550, 85, 81, 81)
PHASE = (372, 52, 142, 142)
POWER = (1130, 52, 142, 142)
METER = (619, 48, 75, 75)
OS = (1275, 105, 100, 30)

GAIN_START_DEG, GAIN_STEP_DEG = 210.0, 28.0  # clockwise from 12 o'clock
TRIM_START_DEG, TRIM_SWEEP_DEG = 216.0, 288.0


def centre_in_panel(rect):
    x, y, w, h = rect
    return (x + w / 2) * SX, (y + h / 2) * SY


def grid(size):
    """Pixel-centre coordinates of a supersampled square of `size` output pixels, centred on 0."""
    n = size * SS
    c = (np.arange(n) + 0.5) / SS - size / 2
    return np.meshgrid(c, c)


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3 - 2 * t)


def shade(height, albedo, specular=0.35, shininess=40.0, ambient=0.35):
    """Lambert plus Blinn highlight of a height field (in output pixels) under the panel light."""
    gy, gx = np.gradient(height * SS)
    n = np.stack([-gx, -gy, np.ones_like(height)], axis=-1)
    n /= np.linalg.norm(n, axis=-1, keepdims=True)
    diffuse = np.clip(n @ LIGHT, 0.0, 1.0)
    half = LIGHT + np.array([0.0, 0.0, 1.0])
    half /= np.linalg.norm(half)
    highlight = np.clip(n @ half, 0.0, 1.0) ** shininess
    rgb = albedo * (ambient + 0.8 * diffuse)[..., None] + 255.0 * specular * highlight[..., None]
    return np.clip(rgb, 0, 255)


def to_image(rgb, alpha=None):
    """Scales a supersampled layer down to output pixels (premultiplied, so edges stay clean)."""
    if alpha is None:
        img = Image.fromarray(rgb.astype(np.uint8), "RGB")
        return img.resize((img.width // SS, img.height // SS), Image.BOX)
    premul = np.concatenate([rgb * alpha[..., None], alpha[..., None] * 255.0], axis=-1)
    img = Image.fromarray(np.clip(premul, 0, 255).astype(np.uint8), "RGBA")
    small = np.asarray(img.resize((img.width // SS, img.height // SS), Image.BOX)).astype(np.float64)
    a = small[..., 3:4] / 255.0
    colour = np.where(a > 0, small[..., :3] / np.maximum(a, 1e-6), 0)
    return Image.fromarray(np.clip(np.concatenate([colour, a * 255.0], axis=-1) + 0.5, 0, 255).astype(np.uint8), "RGBA")


def glow(size, radius, colour, strength, blur):
    """A soft coloured halo around a disc, as an RGBA layer of output pixels."""
    layer = Image.new("L", (size, size), 0)
    d = ImageDraw.Draw(layer)
    c = size / 2
    d.ellipse([c - radius, c - radius, c + radius, c + radius], fill=int(255 * strength))
    alpha = layer.filter(ImageFilter.GaussianBlur(blur))
    out = Image.new("RGBA", (size, size), colour + (0,))
    out.putalpha(alpha)
    return out


def shadow(alpha_image, offset, blur, opacity):
    """A soft drop shadow from an RGBA layer's alpha."""
    a = alpha_image.getchannel("A").filter(ImageFilter.GaussianBlur(blur))
    a = a.point(lambda v: int(v * opacity))
    out = Image.new("RGBA", alpha_image.size, (0, 0, 0, 0))
    shifted = Image.new("L", alpha_image.size, 0)
    shifted.paste(a, offset)
    out.putalpha(shifted)
    return out


def over(*layers):
    out = layers[0].copy()
    for layer in layers[1:]:
        out = Image.alpha_composite(out, layer)
    return out


# ---------------------------------------------------------------------------------------------
def gain_knob_frame(angle_deg, size=285):
    x, y = grid(size)
    r = np.hypot(x, y)

    # Light grey round base: a low cylinder with a rounded edge and lathe rings.
    base_r = 128.0
    base_mask = smoothstep(base_r + 0.6, base_r - 0.6, r)
    base_h = 10.0 * smoothstep(base_r, base_r - 10, r) + 0.15 * np.sin(r * 1.7)
    base = shade(base_h, np.array([200.0, 200.0, 196.0]), specular=0.25, shininess=20)

    # Dark red winged pointer: a round cap and two tapered wings along the pointer.
    a = math.radians(angle_deg)
    u = x * math.sin(a) - y * math.cos(a)  # along the pointer
    v = x * math.cos(a) + y * math.sin(a)  # across it
    half_width = np.interp(np.abs(u), [0, 60, 112], [44, 30, 13])
    wing = (np.abs(u) < 112) * smoothstep(half_width + 0.8, half_width - 0.8, np.abs(v))
    tip = smoothstep(114, 108, np.abs(u))
    wing = wing * tip
    cap_r = 66.0
    cap = smoothstep(cap_r + 0.8, cap_r - 0.8, r)
    knob_mask = np.maximum(wing, cap)
    wing_h = 16.0 * smoothstep(0, 10, half_width - np.abs(v)) * (1 - 0.35 * np.abs(u) / 112)
    cap_h = 24.0 + 14.0 * np.sqrt(np.clip(1 - (r / cap_r) ** 2, 0, 1))
    knob_h = np.maximum(wing_h * wing, cap_h * cap)
    red = shade(knob_h, np.array([128.0, 16.0, 20.0]), specular=0.55, shininess=55)

    # White pointer line on one wing.
    line = (u > 62) * (u < 106) * smoothstep(3.6, 2.4, np.abs(v))
    red = red * (1 - line[..., None]) + np.array([238.0, 236.0, 230.0]) * line[..., None]

    base_img = to_image(base, base_mask)
    knob_img = to_image(red, knob_mask)
    return over(shadow(base_img, (4, 6), 6, 0.55), base_img, shadow(knob_img, (5, 7), 5, 0.6), knob_img)


def gain_knob_strip():
    strip = Image.new("RGBA", (285, 285 * 8), (0, 0, 0, 0))
    for k in range(8):
        strip.paste(gain_knob_frame(GAIN_START_DEG + GAIN_STEP_DEG * k), (0, 285 * k))
    return strip


def trim_knob(size=162):
    x, y = grid(size)
    r = np.hypot(x, y)
    theta = np.arctan2(y, x)
    cap_r = 70.0
    mask = smoothstep(cap_r + 0.6, cap_r - 0.6, r)
    # Knurled skirt, a chamfer and a flat top turned on a lathe.
    knurl = 1.6 * np.cos(48 * theta) * smoothstep(54, 60, r)
    h = 12.0 * smoothstep(cap_r, cap_r - 8, r) + knurl + 4.0 * smoothstep(56, 50, r) + 0.12 * np.sin(r * 2.3)
    rgb = shade(h, np.array([150.0, 152.0, 156.0]), specular=0.5, shininess=35)
    line = (y < -18) * (y > -50) * smoothstep(3.0, 2.0, np.abs(x))
    rgb = rgb * (1 - line[..., None]) + np.array([245.0, 245.0, 240.0]) * line[..., None]
    img = to_image(rgb, mask)
    return over(shadow(img, (3, 4), 4, 0.6), img)


def phase_button(lit, size=285):
    x, y = grid(size)
    half, corner = 82.0, 20.0
    qx, qy = np.abs(x) - (half - corner), np.abs(y) - (half - corner)
    dist = np.hypot(np.maximum(qx, 0), np.maximum(qy, 0)) + np.minimum(np.maximum(qx, qy), 0) - corner
    mask = smoothstep(0.8, -0.8, dist)
    h = 14.0 * smoothstep(0, -12, dist) - 0.0006 * (x * x + y * y)  # a rounded edge, a slightly dished top
    albedo = np.array([255.0, 150.0, 30.0]) if lit else np.array([132.0, 134.0, 138.0])
    rgb = shade(h, albedo, specular=0.3, shininess=25, ambient=0.55 if lit else 0.35)
    cap = to_image(rgb, mask)

    legend = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(legend)
    font = ImageFont.truetype(FONT_BOLD, 96)
    colour = (255, 246, 214, 255) if lit else (40, 40, 44, 235)
    d.text((size / 2, size / 2), "\u00d8", font=font, fill=colour, anchor="mm")

    layers = [shadow(cap, (5, 7), 6, 0.6)]
    if lit:
        layers.append(glow(size, 100, (255, 140, 20), 0.75, 18))
    layers += [cap, legend]
    return over(Image.new("RGBA", (size, size), (0, 0, 0, 0)), *layers)


def power_button(lit, size=285):
    x, y = grid(size)
    r = np.hypot(x, y)
    theta = np.arctan2(y, x)
    bezel_r, lens_r = 100.0, 72.0

    bezel_mask = smoothstep(bezel_r + 0.8, bezel_r - 0.8, r)
    bezel_h = 16.0 * smoothstep(bezel_r, bezel_r - 14, r) - 6.0 * smoothstep(lens_r + 12, lens_r, r)
    # Chrome: a bright-and-dark environment reflection that turns with the angle.
    chrome = 150 + 90 * np.cos(2 * theta + 0.8) * (1 - smoothstep(lens_r, bezel_r, r) * 0.3)
    bezel = shade(bezel_h, np.stack([chrome] * 3, axis=-1), specular=0.8, shininess=80, ambient=0.6)

    lens_mask = smoothstep(lens_r + 0.6, lens_r - 0.6, r)
    lens_h = 10.0 * np.sqrt(np.clip(1 - (r / lens_r) ** 2, 0, 1))
    if lit:
        core = 1.0 - 0.45 * (r / lens_r) ** 2
        albedo = np.stack([255 * core, 70 * core ** 3, 50 * core ** 3], axis=-1)
        lens = shade(lens_h, albedo, specular=0.5, shininess=60, ambient=0.95)
    else:
        lens = shade(lens_h, np.array([92.0, 10.0, 12.0]), specular=0.6, shininess=60, ambient=0.35)
    # The lens's facets: concentric rings catch a little light.
    rings = 1 + 0.06 * np.sin(r * 0.9)
    lens = np.clip(lens * rings[..., None], 0, 255)

    rgb = bezel * (1 - lens_mask[..., None]) + lens * lens_mask[..., None]
    body = to_image(rgb, bezel_mask)
    layers = [shadow(body, (5, 7), 6, 0.6)]
    if lit:
        layers.append(glow(size, 96, (255, 40, 30), 0.8, 20))
    layers.append(body)
    return over(Image.new("RGBA", (size, size), (0, 0, 0, 0)), *layers)


def led_frame(colour, size=150):
    x, y = grid(size)
    r = np.hypot(x, y)
    bead_r = 24.0
    mask = smoothstep(bead_r + 0.6, bead_r - 0.6, r)
    h = 9.0 * np.sqrt(np.clip(1 - (r / bead_r) ** 2, 0, 1))
    if colour is None:
        rgb = shade(h, np.array([46.0, 48.0, 44.0]), specular=0.6, shininess=50, ambient=0.3)
    else:
        core = 1.0 - 0.5 * (r / bead_r) ** 2
        albedo = np.array(colour, dtype=np.float64) * core[..., None] + 60 * (1 - core)[..., None]
        rgb = shade(h, albedo, specular=0.6, shininess=50, ambient=1.0)
    bead = to_image(rgb, mask)
    layers = [Image.new("RGBA", (size, size), (0, 0, 0, 0)), shadow(bead, (2, 3), 3, 0.5)]
    if colour is not None:
        layers.append(glow(size, 34, colour, 0.85, 14))
    layers.append(bead)
    return over(*layers)


def meter_led_strip():
    strip = Image.new("RGBA", (150, 600), (0, 0, 0, 0))
    for s, colour in enumerate([None, (60, 255, 90), (255, 160, 20), (255, 40, 30)]):
        strip.paste(led_frame(colour), (0, 150 * s))
    return strip


# ---------------------------------------------------------------------------------------------
def brushed_metal(w, h, rng):
    base = np.array([24.0, 56.0, 66.0])
    # Long horizontal streaks: noise smoothed along the rows only.
    noise = rng.normal(0.0, 1.0, (h, w + 400))
    kernel = np.ones(200) / 200
    streaks = np.apply_along_axis(lambda row: np.convolve(row, kernel, mode="valid")[:w], 1, noise)
    streaks = streaks / streaks.std() * 5.0 + rng.normal(0.0, 1.2, (h, w))
    yy = np.linspace(0.0, 1.0, h)[:, None]
    light = 1.12 - 0.22 * yy  # lit from above
    rgb = base * light[..., None] + streaks[..., None] * np.array([0.8, 1.0, 1.05])
    # Bevelled edges: a highlight along the top, a shadow along the bottom.
    edge = np.zeros((h, w))
    edge[:6, :] += 28
    edge[-6:, :] -= 22
    edge[:, :5] += 14
    edge[:, -5:] -= 14
    return np.clip(rgb + edge[..., None], 0, 255)


def screw(size=56):
    x, y = grid(size)
    r = np.hypot(x, y)
    head_r = 22.0
    mask = smoothstep(head_r + 0.6, head_r - 0.6, r)
    h = 6.0 * np.sqrt(np.clip(1 - (r / head_r) ** 2, 0, 1))
    slot = np.maximum(smoothstep(2.6, 1.6, np.abs(x)), smoothstep(2.6, 1.6, np.abs(y))) * (r < head_r - 4)
    h = h - 4.0 * slot
    rgb = shade(h, np.array([28.0, 28.0, 30.0]), specular=0.45, shininess=30, ambient=0.3)
    img = to_image(rgb, mask)
    return over(Image.new("RGBA", (size, size), (0, 0, 0, 0)), shadow(img, (2, 3), 2, 0.7), img)


def engraved_text(draw, xy, text, font, anchor="mm", fill=(236, 238, 232)):
    # A faint dark line under the legend, as printed paint catches the panel's shadow.
    draw.text((xy[0] + 1.5, xy[1] + 2), text, font=font, fill=(8, 20, 24), anchor=anchor)
    draw.text(xy, text, font=font, fill=fill, anchor=anchor)


def dot(draw, cx, cy, radius, fill=(236, 238, 232)):
    draw.ellipse([cx - radius + 1.5, cy - radius + 2, cx + radius + 1.5, cy + radius + 2], fill=(8, 20, 24))
    draw.ellipse([cx - radius, cy - radius, cx + radius, cy + radius], fill=fill)


def polar(cx, cy, radius, deg):
    a = math.radians(deg)
    return cx + radius * math.sin(a), cy - radius * math.cos(a)


def panel_background():
    rng = np.random.default_rng(7)
    img = Image.fromarray(brushed_metal(PANEL_W, PANEL_H, rng).astype(np.uint8), "RGB").convert("RGBA")

    s = screw()
    for cx, cy in [(44, 44), (PANEL_W - 44, 44), (44, PANEL_H - 44), (PANEL_W - 44, PANEL_H - 44)]:
        img.alpha_composite(s, (int(cx - s.width / 2), int(cy - s.height / 2)))

    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    legend = ImageFont.truetype(FONT_BOLD, 30)
    small = ImageFont.truetype(FONT_BOLD, 24)

    # GAIN: eight dots, OFF at the bottom and 20 to 80 going clockwise.
    gx, gy = centre_in_panel(GAIN)
    for k in range(8):
        deg = GAIN_START_DEG + GAIN_STEP_DEG * k
        dot(d, *polar(gx, gy, 168, deg), 6)
        label = {0: "OFF", 1: "20", 3: "40", 5: "60", 7: "80"}.get(k)
        if label:
            engraved_text(d, polar(gx, gy, 206, deg), label, small)
    engraved_text(d, (gx + 140, gy + 205), "GAIN", legend)

    # TRIM: eleven dots from −10 at the lower left through 0 at the top to 10 at the lower right.
    tx, ty = centre_in_panel(TRIM)
    for k in range(11):
        deg = TRIM_START_DEG + TRIM_SWEEP_DEG * k / 10
        dot(d, *polar(tx, ty, 100, deg), 4.5 if k % 5 else 6)
    engraved_text(d, polar(tx, ty, 132, TRIM_START_DEG), "\u221210", small)
    engraved_text(d, polar(tx, ty, 128, 0), "0", small)
    engraved_text(d, polar(tx, ty, 132, TRIM_START_DEG + TRIM_SWEEP_DEG), "10", small)
    engraved_text(d, (tx, ty - 172), "TRIM", legend)

    px, py = centre_in_panel(PHASE)
    engraved_text(d, (px, py - 172), "PHASE", legend)
    wx, wy = centre_in_panel(POWER)
    engraved_text(d, (wx, wy - 172), "POWER", legend)

    # The LED socket: a dark ring the bead sits in.
    mx, my = centre_in_panel(METER)
    d.ellipse([mx - 36, my - 36, mx + 36, my + 36], fill=(70, 92, 98))
    d.ellipse([mx - 33, my - 33, mx + 33, my + 33], fill=(6, 10, 12))
    engraved_text(d, (mx, my - 62), "SIGNAL", ImageFont.truetype(FONT_BOLD, 18))

    # The oversampling caption sits in a recessed strip under its legend.
    ox, oy, ow, oh = OS
    d.rounded_rectangle([ox * SX + 6, oy * SY + 2, (ox + ow) * SX - 6, (oy + oh) * SY - 2], 10, fill=(10, 26, 30))
    engraved_text(d, ((ox + ow / 2) * SX, (oy + oh) * SY + 26), "OVERSAMPLING", ImageFont.truetype(FONT_BOLD, 17))

    # The maker's logo at the top left.
    d.ellipse([104, 22, 164, 82], outline=(236, 238, 232), width=5)
    engraved_text(d, (134, 52), "K", ImageFont.truetype(FONT_BOLD, 38))
    engraved_text(d, (178, 52), "KORVEL AUDIO", ImageFont.truetype(FONT_BOLD, 29), anchor="lm")

    # The product's logo block at the right, above the oversampling button.
    bx0, by0, bx1, by1 = 2560, 40, 2704, 184
    d.rounded_rectangle([bx0, by0, bx1, by1], 12, outline=(236, 238, 232), width=4)
    d.rectangle([bx0 + 4, by0 + 80, bx1 - 4, by0 + 84], fill=(236, 238, 232))
    engraved_text(d, ((bx0 + bx1) / 2, by0 + 42), "KORVEL", ImageFont.truetype(FONT_BOLD, 28))
    engraved_text(d, ((bx0 + bx1) / 2, by0 + 113), "V2", ImageFont.truetype(FONT_BOLD, 40))

    # The credit line at the bottom right.
    engraved_text(d, (2700, PANEL_H - 40), "MICROPHONE PREAMPLIFIER  \u2022  DESIGNED AND BUILT BY KORVEL AUDIO",
                  ImageFont.truetype(FONT, 20), anchor="rm", fill=(200, 212, 212))

    img.alpha_composite(layer)
    return img.convert("RGB")


PICTURES = {
    "PanelBackground.png": panel_background,
    "GainKnobStrip.png": gain_knob_strip,
    "TrimKnobImage.png": trim_knob,
    "PhaseButtonOff.png": lambda: phase_button(False),
    "PhaseButtonOn.png": lambda: phase_button(True),
    "PowerButtonOff.png": lambda: power_button(False),
    "PowerButtonOn.png": lambda: power_button(True),
    "MeterLedStrip.png": meter_led_strip,
}


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources"
    out.mkdir(parents=True, exist_ok=True)
    for name, draw in PICTURES.items():
        draw().save(out / name, format="PNG", optimize=False, compress_level=9)
        print(f"wrote {out / name}")


if __name__ == "__main__":
    main()
