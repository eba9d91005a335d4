#!/usr/bin/env python3
"""Writes the full-colour SVG art of Quillmark: the logo, the dataset-format
icons, and the sources of the splash and the wizard illustrations.

Lettering is drawn with a small monoline stroke alphabet defined below, so the
art depends on no font. Run from anywhere; standard library only:

    python3 scripts/draw-resource-art.py

Then scripts/render-images.sh turns src/resources/art/*.svg into the PNGs under
src/resources/images/.
"""

import math
import os

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
ICONS = os.path.join(ROOT, "src", "resources", "icons")
ART = os.path.join(ROOT, "src", "resources", "art")

# ---------------------------------------------------------------------------
# Monoline alphabet: each glyph is a list of polylines on a 4 x 6 grid
# (x right, y down). Narrow glyphs give their own advance width.

GLYPHS = {
    "A": [[(0, 6), (0, 2), (2, 0), (4, 2), (4, 6)], [(0, 3.6), (4, 3.6)]],
    "B": [[(0, 3), (0, 0), (3, 0), (4, 0.8), (4, 2.2), (3, 3), (0, 3), (0, 6), (3, 6), (4, 5.2), (4, 3.8), (3, 3)]],
    "C": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5)]],
    "D": [[(0, 0), (0, 6), (2.4, 6), (4, 4.4), (4, 1.6), (2.4, 0), (0, 0)]],
    "E": [[(4, 0), (0, 0), (0, 6), (4, 6)], [(0, 3), (3, 3)]],
    "F": [[(4, 0), (0, 0), (0, 6)], [(0, 3), (3, 3)]],
    "G": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5), (4, 3.4), (2.4, 3.4)]],
    "I": [[(0, 0), (0, 6)]],
    "K": [[(0, 0), (0, 6)], [(4, 0), (0, 3.6)], [(1.4, 2.4), (4, 6)]],
    "L": [[(0, 0), (0, 6), (4, 6)]],
    "M": [[(0, 6), (0, 0), (2.5, 3.4), (5, 0), (5, 6)]],
    "N": [[(0, 6), (0, 0), (4, 6), (4, 0)]],
    "O": [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)]],
    "P": [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)]],
    "Q": [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)], [(2.6, 4.6), (4.2, 6.2)]],
    "R": [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)], [(2, 3), (4, 6)]],
    "S": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 2), (1, 3), (3, 3), (4, 4), (4, 5), (3, 6), (1, 6), (0, 5)]],
    "T": [[(0, 0), (4, 0)], [(2, 0), (2, 6)]],
    "U": [[(0, 0), (0, 5), (1, 6), (3, 6), (4, 5), (4, 0)]],
    "V": [[(0, 0), (2, 6), (4, 0)]],
    "X": [[(0, 0), (4, 6)], [(4, 0), (0, 6)]],
    "Y": [[(0, 0), (2, 3), (4, 0)], [(2, 3), (2, 6)]],
    "v": [[(0, 2), (2, 6), (4, 2)]],
    "0": [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)]],
    "1": [[(0, 1.2), (1.6, 0), (1.6, 6)]],
    "2": [[(0, 1), (1, 0), (3, 0), (4, 1), (4, 2), (0, 6), (4, 6)]],
    "3": [[(0, 0), (4, 0), (2, 2.5), (3, 2.5), (4, 3.5), (4, 5), (3, 6), (1, 6), (0, 5)]],
    "4": [[(3, 6), (3, 0), (0, 4), (4, 4)]],
    "5": [[(4, 0), (0, 0), (0, 2.7), (3, 2.7), (4, 3.7), (4, 5), (3, 6), (0, 6)]],
    "6": [[(3.5, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5), (4, 4), (3, 3), (0, 3)]],
    "7": [[(0, 0), (4, 0), (1.5, 6)]],
    "8": [[(1, 3), (0, 2), (0, 1), (1, 0), (3, 0), (4, 1), (4, 2), (3, 3), (1, 3), (0, 4), (0, 5), (1, 6), (3, 6),
           (4, 5), (4, 4), (3, 3)]],
    "9": [[(0.5, 6), (3, 6), (4, 5), (4, 1), (3, 0), (1, 0), (0, 1), (0, 2), (1, 3), (4, 3)]],
    " ": [],
}


def advance(ch):
    xs = [x for line in GLYPHS[ch] for x, _ in line]
    return max(xs) if xs else 2.5


def text_width(text, scale, gap):
    return sum(advance(c) * scale for c in text) + gap * scale * (len(text) - 1)


def text_path(text, cx, top, scale, gap=1.4):
    """Path data of `text` centred at cx with its cap line at `top`."""
    x = cx - text_width(text, scale, gap) / 2
    parts = []
    for ch in text:
        for line in GLYPHS[ch]:
            pts = " L".join(f"{x + px * scale:.2f} {top + py * scale:.2f}" for px, py in line)
            parts.append("M" + pts)
        x += (advance(ch) + gap) * scale
    return " ".join(parts)


def lettering(text, cx, top, scale, color, width, gap=1.4, opacity=1.0):
    op = f' stroke-opacity="{opacity}"' if opacity < 1 else ""
    return (f'<path d="{text_path(text, cx, top, scale, gap)}" fill="none" stroke="{color}" '
            f'stroke-width="{width}" stroke-linecap="round" stroke-linejoin="round"{op}/>')


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def svg(width, height, body, view=None):
    view = view or f"0 0 {width} {height}"
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" viewBox="{view}">\n'
            + body + "\n</svg>\n")


# ---------------------------------------------------------------------------
# Logo: a quill over the corner marks of an annotation box.

def quill(scale=1.0, dx=0.0, dy=0.0, feather="#ffffff", shaft="#312e81"):
    def t(x, y):
        return f"{dx + x * scale:.2f} {dy + y * scale:.2f}"
    return "\n".join([
        f'<path d="M{t(19, 45)} C{t(22, 29)} {t(34, 17)} {t(50, 13)} C{t(48, 28)} {t(37, 39)} {t(21, 43)} Z" '
        f'fill="{feather}"/>',
        f'<path d="M{t(27, 37)} L{t(33, 34.5)} M{t(31, 31)} L{t(38, 28.5)} M{t(36, 25)} L{t(43, 22)}" fill="none" '
        f'stroke="{shaft}" stroke-opacity="0.35" stroke-width="{1.6 * scale:.2f}" stroke-linecap="round"/>',
        f'<path d="M{t(14, 50)} L{t(44, 20)}" fill="none" stroke="{shaft}" stroke-width="{2.4 * scale:.2f}" '
        f'stroke-linecap="round"/>',
    ])


def logo_body(size=64, dx=0.0, dy=0.0):
    s = size / 64.0

    def t(x, y):
        return f"{dx + x * s:.2f} {dy + y * s:.2f}"
    corners = (f"M{t(10, 22)} L{t(10, 10)} L{t(22, 10)} M{t(42, 10)} L{t(54, 10)} L{t(54, 22)} "
               f"M{t(54, 42)} L{t(54, 54)} L{t(42, 54)} M{t(22, 54)} L{t(10, 54)} L{t(10, 42)}")
    return "\n".join([
        f'<rect x="{dx:.2f}" y="{dy:.2f}" width="{size}" height="{size}" rx="{14 * s:.2f}" fill="url(#logoBg)"/>',
        f'<path d="{corners}" fill="none" stroke="#fbbf24" stroke-width="{4 * s:.2f}" stroke-linecap="round" '
        f'stroke-linejoin="round"/>',
        quill(s, dx, dy),
        f'<circle cx="{dx + 14 * s:.2f}" cy="{dy + 50 * s:.2f}" r="{2.6 * s:.2f}" fill="#fbbf24"/>',
    ])


LOGO_GRADIENT = ('<linearGradient id="logoBg" x1="0" y1="0" x2="1" y2="1">'
                 '<stop offset="0" stop-color="#6366f1"/><stop offset="1" stop-color="#8b5cf6"/>'
                 '</linearGradient>')


def write_logo():
    write(os.path.join(ICONS, "logo.svg"), svg(64, 64, f"<defs>{LOGO_GRADIENT}</defs>\n" + logo_body()))


# ---------------------------------------------------------------------------
# Dataset-format icons: a rounded tile with a gradient, lettering or a symbol.

def tile(c1, c2):
    return (f'<defs><linearGradient id="bg" x1="0" y1="0" x2="1" y2="1">'
            f'<stop offset="0" stop-color="{c1}"/><stop offset="1" stop-color="{c2}"/></linearGradient></defs>\n'
            f'<rect x="1" y="1" width="30" height="30" rx="7" fill="url(#bg)"/>')


def label_art(main, sub=None):
    if sub is None:
        scale = 1.25 if len(main) >= 4 else (1.5 if len(main) == 3 else 1.7)
        gap = 1.2
        while text_width(main, scale, gap) > 24:
            scale -= 0.05
        height = 6 * scale
        return lettering(main, 16, 16 - height / 2, scale, "#ffffff", 2.1, gap)
    main_scale = 1.45
    sub_scale = 0.8
    while text_width(sub, sub_scale, 1.2) > 24:
        sub_scale -= 0.05
    return "\n".join([
        lettering(main, 16, 6.5, main_scale, "#ffffff", 2.1),
        f'<rect x="5" y="20" width="22" height="8" rx="2.5" fill="#000000" fill-opacity="0.22"/>',
        lettering(sub, 16, 21.6, sub_scale, "#ffffff", 1.3, 1.2),
    ])


WHITE = 'fill="none" stroke="#ffffff" stroke-width="2" stroke-linecap="round" stroke-linejoin="round"'


def symbol(kind):
    if kind == "braces":
        return (f'<path d="M12 7 C9 7 10 12 8 13 C8.2 15.6 10 13 10 16 C10 19 9 25 12 25 '
                f'M20 7 C23 7 22 12 24 13 C23.8 15.6 22 13 22 16 C22 19 23 25 20 25" {WHITE}/>'
                f'\n<circle cx="16" cy="16" r="1.6" fill="#ffffff"/>')
    if kind == "polygon":
        pts = [(8, 21), (10, 9), (19, 7), (24, 15), (17, 24)]
        d = "M" + " L".join(f"{x} {y}" for x, y in pts) + " Z"
        dots = "\n".join(f'<circle cx="{x}" cy="{y}" r="2" fill="#ffffff"/>' for x, y in pts)
        return f'<path d="{d}" fill="#ffffff" fill-opacity="0.25" stroke="#ffffff" stroke-width="1.8" ' \
               f'stroke-linejoin="round"/>\n' + dots
    if kind == "tags":
        return f'<path d="M9 11 L9 7 L14 7 L13 9 M16 16 L12 12 M23 21 L23 25 L18 25 L19 23" {WHITE}/>\n' + \
               f'<path d="M7.5 16 L11.5 12 L11.5 20 Z M24.5 16 L20.5 12 L20.5 20 Z" fill="#ffffff"/>'
    if kind == "xml":
        return f'<path d="M11 10 L5 16 L11 22 M21 10 L27 16 L21 22 M18 8 L14 24" {WHITE}/>'
    if kind == "folders":
        out = []
        for x, y in ((6, 7), (17, 7), (6, 18), (17, 18)):
            out.append(f'<path d="M{x} {y + 7} L{x} {y} L{x + 3.5} {y} L{x + 5} {y + 1.5} L{x + 9} {y + 1.5} '
                       f'L{x + 9} {y + 7} Z" fill="#ffffff" fill-opacity="0.9"/>')
        return "\n".join(out)
    if kind == "caption":
        return "\n".join([
            '<rect x="6" y="6" width="13" height="11" rx="2" fill="#ffffff" fill-opacity="0.9"/>',
            '<path d="M7.5 15.5 L11 11.5 L13.5 14 L15 12.5 L17.5 15.5 Z" fill="#118ab2"/>',
            '<path d="M13 19 H25 Q26 19 26 20 V25 Q26 26 25 26 H17 L14 28 L14.5 26 H13 Q12 26 12 25 V20 '
            'Q12 19 13 19 Z" fill="#ffffff"/>',
            '<path d="M15 22.5 H23" stroke="#118ab2" stroke-width="1.4" stroke-linecap="round"/>',
        ])
    if kind == "pose":
        return "\n".join([
            '<circle cx="16" cy="8" r="2.6" fill="#ffffff"/>',
            f'<path d="M16 11 V18 M10 15 L16 12.5 L22 15 M16 18 L12 25 M16 18 L20 25" {WHITE}/>',
            '<circle cx="10" cy="15" r="1.8" fill="#ffe066"/><circle cx="22" cy="15" r="1.8" fill="#ffe066"/>',
            '<circle cx="12" cy="25" r="1.8" fill="#ffe066"/><circle cx="20" cy="25" r="1.8" fill="#ffe066"/>',
        ])
    if kind == "quill":
        return "\n".join([
            '<path d="M7 9 V6 H10 M22 6 H25 V9 M25 23 V26 H22 M10 26 H7 V23" fill="none" stroke="#fbbf24" '
            'stroke-width="2" stroke-linecap="round" stroke-linejoin="round"/>',
            quill(0.5, 0, 0),
        ])
    raise ValueError(kind)


def obb_mark():
    return ('<path d="M8 20.5 L22 17.5 L24 25 L10 28 Z" fill="#000000" fill-opacity="0.22" stroke="#ffffff" '
            'stroke-width="1.4" stroke-linejoin="round"/>')


FORMATS = {
    # name: (colour 1, colour 2, art)
    "coco": ("#f4a261", "#e76f51", ("symbol", "braces")),
    "labelme": ("#a06cd5", "#7b2cbf", ("symbol", "polygon")),
    "createml": ("#00b4d8", "#0077b6", ("label", "ML", None)),
    "darknet": ("#495057", "#212529", ("label", "DN", None)),
    "cvat": ("#42a5f5", "#1565c0", ("symbol", "xml")),
    "voc": ("#52b788", "#2d6a4f", ("label", "VOC", None)),
    "florence2": ("#ef476f", "#b5179e", ("label", "F2", None)),
    "multiclass": ("#ffb703", "#fb8500", ("symbol", "folders")),
    "clip": ("#06d6a0", "#118ab2", ("symbol", "caption")),
    "paligemma": ("#4cc9f0", "#4361ee", ("label", "PG", None)),
    "retinanet": ("#dc2f02", "#9d0208", ("label", "RN", None)),
    "quill": ("#6366f1", "#8b5cf6", ("symbol", "quill")),
    "yolopose": ("#ff7a45", "#e63946", ("symbol", "pose")),
    "yolo": ("#ff7a45", "#e63946", ("label", "YOLO", None)),
    "yolov3keras": ("#e5383b", "#a4161a", ("label", "v3", "KERAS")),
    "yolo4pytorch": ("#f4a261", "#d9480f", ("label", "v4", "PT")),
    "yolo4scaled": ("#f4a261", "#c2410c", ("label", "v4", "SCALED")),
    "yolo5pytorch": ("#52b69a", "#1a759f", ("label", "v5", "PT")),
    "yolo5obb": ("#52b69a", "#1a759f", ("obb", "v5")),
    "yolo6mt": ("#4cc9f0", "#3a86ff", ("label", "v6", "MT")),
    "yolo7pytorch": ("#8b8cf8", "#5e60ce", ("label", "v7", "PT")),
    "yolov8": ("#9d4edd", "#5a189a", ("label", "v8", None)),
    "yolov8obb": ("#9d4edd", "#5a189a", ("obb", "v8")),
    "yolov9": ("#f72585", "#b5179e", ("label", "v9", None)),
    "yolov11": ("#4361ee", "#3a0ca3", ("label", "v11", None)),
    "yolov12": ("#457b9d", "#1d3557", ("label", "v12", None)),
    "yolotf": ("#f8961e", "#f3722c", ("label", "TF", None)),
    "yoloroboflow": ("#8e7dbe", "#6a4c93", ("label", "RF", None)),
}


def write_format_icons():
    for name, (c1, c2, art) in FORMATS.items():
        if art[0] == "symbol":
            body = symbol(art[1])
        elif art[0] == "obb":
            body = lettering(art[1], 16, 5, 1.45, "#ffffff", 2.1) + "\n" + obb_mark()
        else:
            body = label_art(art[1], art[2])
        write(os.path.join(ICONS, name + ".svg"), svg(32, 32, tile(c1, c2) + "\n" + body))


# ---------------------------------------------------------------------------
# Splash: 700 x 420. The bottom-right corner stays plain for the version badge.

def write_splash():
    w, h = 700, 420
    boxes = []
    for x, y, bw, bh, color in ((450, 44, 112, 82, "#60a5fa"), (580, 150, 90, 104, "#f472b6"),
                                (452, 168, 100, 112, "#34d399"), (590, 40, 76, 66, "#fbbf24")):
        boxes.append(f'<rect x="{x}" y="{y}" width="{bw}" height="{bh}" rx="4" fill="{color}" fill-opacity="0.10" '
                     f'stroke="{color}" stroke-opacity="0.75" stroke-width="2"/>')
        for cx, cy in ((x, y), (x + bw, y), (x, y + bh), (x + bw, y + bh)):
            boxes.append(f'<rect x="{cx - 3.5}" y="{cy - 3.5}" width="7" height="7" rx="1.5" fill="{color}"/>')
        boxes.append(f'<rect x="{x}" y="{y - 14}" width="{min(bw, 58)}" height="12" rx="3" fill="{color}" '
                     f'fill-opacity="0.85"/>')
    poly = [(250, 318), (292, 276), (348, 286), (360, 340), (300, 364)]
    poly_d = "M" + " L".join(f"{x} {y}" for x, y in poly) + " Z"
    poly_dots = "\n".join(f'<circle cx="{x}" cy="{y}" r="4" fill="#c4b5fd"/>' for x, y in poly)
    grid = []
    for gx in range(0, w + 1, 35):
        grid.append(f"M{gx} 0 V{h}")
    for gy in range(0, h + 1, 35):
        grid.append(f"M0 {gy} H{w}")
    body = "\n".join([
        "<defs>",
        LOGO_GRADIENT,
        '<linearGradient id="sky" x1="0" y1="0" x2="1" y2="1">'
        '<stop offset="0" stop-color="#1e1b4b"/><stop offset="0.55" stop-color="#312e81"/>'
        '<stop offset="1" stop-color="#4c1d95"/></linearGradient>',
        '<radialGradient id="glow" cx="0.25" cy="0.45" r="0.6">'
        '<stop offset="0" stop-color="#818cf8" stop-opacity="0.45"/>'
        '<stop offset="1" stop-color="#818cf8" stop-opacity="0"/></radialGradient>',
        "</defs>",
        f'<rect width="{w}" height="{h}" fill="url(#sky)"/>',
        f'<rect width="{w}" height="{h}" fill="url(#glow)"/>',
        f'<path d="{" ".join(grid)}" stroke="#ffffff" stroke-opacity="0.05" stroke-width="1"/>',
        *boxes,
        f'<path d="{poly_d}" fill="#a78bfa" fill-opacity="0.18" stroke="#c4b5fd" stroke-width="2" '
        f'stroke-linejoin="round"/>',
        poly_dots,
        logo_body(120, 60, 110),
        lettering("QUILLMARK", 60 + 120 + 24 + text_width("QUILLMARK", 4.4, 1.7) / 2, 128, 4.4, "#ffffff", 5,
                  1.7),
        lettering("IMAGE AND VIDEO ANNOTATION", 60 + 120 + 24 + text_width("IMAGE AND VIDEO ANNOTATION", 1.5,
                                                                             1.6) / 2,
                  182, 1.5, "#c7d2fe", 1.8, 1.6),
        f'<path d="M204 210 H330" stroke="#fbbf24" stroke-width="3" stroke-linecap="round"/>',
    ])
    write(os.path.join(ART, "splash.svg"), svg(w, h, body))


# ---------------------------------------------------------------------------
# Wizard illustrations, one per project type: 256 x 256.

def card(c1, c2):
    return (f'<defs><linearGradient id="card" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{c1}"/><stop offset="1" stop-color="{c2}"/></linearGradient>'
            f'<linearGradient id="photoSky" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="#bfdbfe"/><stop offset="1" stop-color="#e0f2fe"/></linearGradient>'
            f'</defs>\n<rect x="8" y="8" width="240" height="240" rx="36" fill="url(#card)"/>')


def photo(x=40, y=52, w=176, h=152):
    """A simple landscape photo: sky, hills, sun."""
    return "\n".join([
        f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="14" fill="url(#photoSky)"/>',
        f'<circle cx="{x + w - 36}" cy="{y + 34}" r="14" fill="#fde68a"/>',
        f'<path d="M{x} {y + h - 50} C{x + 40} {y + h - 80} {x + 80} {y + h - 70} {x + 110} {y + h - 56} '
        f'C{x + 140} {y + h - 44} {x + 160} {y + h - 66} {x + w} {y + h - 60} V{y + h - 14} '
        f'Q{x + w} {y + h} {x + w - 14} {y + h} H{x + 14} Q{x} {y + h} {x} {y + h - 14} Z" fill="#86efac"/>',
    ])


def corner_handles(x, y, w, h, color):
    return "\n".join(f'<rect x="{cx - 4}" y="{cy - 4}" width="8" height="8" rx="2" fill="{color}"/>'
                     for cx, cy in ((x, y), (x + w, y), (x, y + h), (x + w, y + h)))


def write_illustrations():
    # Object detection: boxes with label tabs around a car and a tree.
    od = "\n".join([
        card("#dbeafe", "#bfdbfe"), photo(),
        '<rect x="64" y="150" width="78" height="30" rx="10" fill="#ef4444"/>',
        '<circle cx="80" cy="182" r="8" fill="#1f2937"/><circle cx="126" cy="182" r="8" fill="#1f2937"/>',
        '<path d="M78 150 L88 134 H120 L130 150 Z" fill="#f87171"/>',
        '<rect x="160" y="118" width="10" height="52" fill="#92400e"/>',
        '<circle cx="165" cy="110" r="24" fill="#16a34a"/>',
        '<rect x="56" y="126" width="94" height="68" rx="4" fill="none" stroke="#2563eb" stroke-width="4"/>',
        corner_handles(56, 126, 94, 68, "#2563eb"),
        '<rect x="56" y="108" width="46" height="16" rx="4" fill="#2563eb"/>',
        '<rect x="136" y="80" width="60" height="96" rx="4" fill="none" stroke="#f97316" stroke-width="4"/>',
        corner_handles(136, 80, 60, 96, "#f97316"),
        '<rect x="136" y="62" width="40" height="16" rx="4" fill="#f97316"/>',
    ])
    # Semantic segmentation: every region filled with its class colour.
    ss = "\n".join([
        card("#ede9fe", "#ddd6fe"),
        '<rect x="40" y="52" width="176" height="152" rx="14" fill="#60a5fa"/>',
        '<path d="M40 140 C80 112 120 122 150 136 C180 150 200 128 216 134 V190 Q216 204 202 204 H54 '
        'Q40 204 40 190 Z" fill="#22c55e"/>',
        '<path d="M96 204 L124 150 H140 L176 204 Z" fill="#a855f7"/>',
        '<path d="M150 150 V96 L170 78 L190 96 V150 Z" fill="#f97316"/>',
        '<circle cx="76" cy="118" r="20" fill="#ef4444"/>',
        '<path d="M40 140 C80 112 120 122 150 136 C180 150 200 128 216 134 M96 204 L124 150 H140 L176 204 '
        'M150 150 V96 L170 78 L190 96 V150" fill="none" stroke="#ffffff" stroke-opacity="0.8" stroke-width="2"/>',
        '<circle cx="76" cy="118" r="20" fill="none" stroke="#ffffff" stroke-opacity="0.8" stroke-width="2"/>',
        '<rect x="40" y="52" width="176" height="152" rx="14" fill="none" stroke="#7c3aed" stroke-width="3"/>',
    ])

    # Instance segmentation: each object its own outline with vertices.
    def outline(points, color):
        d = "M" + " L".join(f"{x} {y}" for x, y in points) + " Z"
        dots = "\n".join(f'<circle cx="{x}" cy="{y}" r="4.5" fill="#ffffff" stroke="{color}" stroke-width="2.5"/>'
                         for x, y in points)
        return (f'<path d="{d}" fill="{color}" fill-opacity="0.35" stroke="{color}" stroke-width="3.5" '
                f'stroke-linejoin="round"/>\n' + dots)
    inst = "\n".join([
        card("#dcfce7", "#bbf7d0"), photo(),
        '<ellipse cx="92" cy="150" rx="34" ry="28" fill="#f59e0b"/>',
        '<ellipse cx="164" cy="140" rx="30" ry="36" fill="#ec4899"/>',
        outline([(58, 150), (70, 126), (96, 120), (122, 134), (126, 160), (108, 176), (76, 176)], "#0ea5e9"),
        outline([(136, 130), (150, 106), (176, 104), (194, 128), (192, 160), (172, 178), (144, 170)], "#8b5cf6"),
    ])
    # Pose: a person with joints and a skeleton.
    joints = {"head": (128, 66), "neck": (128, 92), "ls": (100, 98), "rs": (156, 98), "le": (84, 128),
              "re": (176, 124), "lw": (74, 158), "rw": (196, 100), "hip": (128, 150), "lh": (110, 152),
              "rh": (146, 152), "lk": (102, 190), "rk": (156, 190), "la": (96, 226), "ra": (168, 224)}
    bones = [("neck", "ls"), ("neck", "rs"), ("ls", "le"), ("le", "lw"), ("rs", "re"), ("re", "rw"),
             ("neck", "hip"), ("hip", "lh"), ("hip", "rh"), ("lh", "lk"), ("lk", "la"), ("rh", "rk"),
             ("rk", "ra")]
    palette = ["#ef4444", "#f97316", "#eab308", "#22c55e", "#06b6d4", "#3b82f6", "#8b5cf6", "#ec4899"]
    bone_d = " ".join(f"M{joints[a][0]} {joints[a][1]} L{joints[b][0]} {joints[b][1]}" for a, b in bones)
    joint_dots = "\n".join(
        f'<circle cx="{x}" cy="{y}" r="7" fill="{palette[i % len(palette)]}" stroke="#ffffff" stroke-width="2.5"/>'
        for i, (name, (x, y)) in enumerate(joints.items()) if name != "head")
    pose = "\n".join([
        card("#ffedd5", "#fed7aa"),
        '<circle cx="128" cy="66" r="20" fill="#fdba74" stroke="#ea580c" stroke-width="3"/>',
        f'<path d="{bone_d}" fill="none" stroke="#7c2d12" stroke-width="6" stroke-linecap="round"/>',
        joint_dots,
    ])
    # Face: a face with its box and five landmarks.
    face = "\n".join([
        card("#fce7f3", "#fbcfe8"),
        '<ellipse cx="128" cy="132" rx="50" ry="60" fill="#fcd34d"/>',
        '<path d="M78 126 C72 62 184 62 178 126 C168 96 88 96 78 126 Z" fill="#92400e"/>',
        '<ellipse cx="108" cy="128" rx="6" ry="7" fill="#1f2937"/>',
        '<ellipse cx="148" cy="128" rx="6" ry="7" fill="#1f2937"/>',
        '<path d="M110 164 C120 174 136 174 146 164" fill="none" stroke="#9a3412" stroke-width="4" '
        'stroke-linecap="round"/>',
        '<rect x="66" y="62" width="124" height="142" rx="6" fill="none" stroke="#db2777" stroke-width="4"/>',
        corner_handles(66, 62, 124, 142, "#db2777"),
        *[f'<circle cx="{x}" cy="{y}" r="5.5" fill="#ffffff" stroke="#db2777" stroke-width="3"/>'
          for x, y in ((108, 128), (148, 128), (128, 148), (112, 166), (144, 166))],
    ])
    # Classification: a photo with a class tag and a check mark.
    cls = "\n".join([
        card("#ccfbf1", "#99f6e4"), photo(40, 44, 150, 130),
        '<path d="M150 146 H210 L228 166 L210 186 H150 Q142 186 142 178 V154 Q142 146 150 146 Z" '
        'fill="#10b981" stroke="#ffffff" stroke-width="3" stroke-linejoin="round"/>',
        '<circle cx="156" cy="166" r="5" fill="#ffffff"/>',
        '<path d="M170 162 H204 M170 172 H196" stroke="#ffffff" stroke-width="4" stroke-linecap="round"/>',
        '<circle cx="74" cy="196" r="24" fill="#059669"/>',
        '<path d="M62 196 L71 205 L87 188" fill="none" stroke="#ffffff" stroke-width="6" stroke-linecap="round" '
        'stroke-linejoin="round"/>',
    ])
    for name, body in (("object_detection", od), ("semantic_segmentation", ss),
                       ("instance_segmentation", inst), ("key_point_detection", pose),
                       ("face_detection", face), ("image_classification", cls)):
        write(os.path.join(ART, name + ".svg"), svg(256, 256, body))


def main():
    os.makedirs(ART, exist_ok=True)
    write_logo()
    write_format_icons()
    write_splash()
    write_illustrations()


if __name__ == "__main__":
    main()
