#!/usr/bin/env python3
"""Writes the program's icons (res/icons/*.svg): a speech bubble with a Z.

Two drawings: a 48-unit one for 22 px and up, and a 16-unit one laid on whole pixels for
the small sizes. Each colour scheme has a dark outline and a light inner edge, so the
bubble stands out on light and dark panels alike. Run it again after changing a colour.
"""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "icons")

# fill, outline, letter
BLUE = ("#2f6fd6", "#0b2f6b", "#ffffff")
GREEN = ("#2e9a43", "#0c3d17", "#ffffff")
GREY = ("#8c9096", "#2f3236", "#ffffff")
ORANGE = ("#f39a1e", "#6b3a00", "#ffffff")
WHITE = ("#ffffff", "#0b2f6b", "#2f6fd6")


def large(scheme, transform="", extra=""):
    fill, outline, letter = scheme
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
  <g transform="{transform}">
    <path d="M10 4h28a8 8 0 0 1 8 8v18a8 8 0 0 1-8 8H22l-10 8v-8h-2a8 8 0 0 1-8-8V12a8 8 0 0 1 8-8z"
          fill="{fill}" stroke="{outline}" stroke-width="2.5" stroke-linejoin="round"/>
    <path d="M10 6.5h28a5.5 5.5 0 0 1 5.5 5.5" fill="none" stroke="#ffffff" stroke-opacity="0.35"
          stroke-width="1.5" stroke-linecap="round"/>
    <path d="M15 10h18v5L21.5 29H33v5H15v-5L26.5 15H15z" fill="{letter}"/>
    {extra}
  </g>
</svg>
"""


def small(scheme, extra=""):
    fill, outline, letter = scheme
    # Whole-pixel shapes: the outline is the 1 px ring around the fill.
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16" shape-rendering="crispEdges">
  <path d="M2 0h12v1h1v1h1v9h-1v1h-1v1H7l-3 3H3v-3H2v-1H1v-1H0V2h1V1h1z" fill="{outline}"/>
  <path d="M2 1h12v1h1v9h-1v1H6.6L4 14.6V12H2v-1H1V2h1z" fill="{fill}"/>
  <path d="M4 3h8v2l-5 4h5v2H4V9l5-4H4z" fill="{letter}"/>
  {extra}
</svg>
"""


DOTS = """<g fill="#ffffff" stroke="#0b2f6b" stroke-width="1.5">
      <circle cx="14" cy="21" r="3.5"/><circle cx="24" cy="21" r="3.5"/><circle cx="34" cy="21" r="3.5"/>
    </g>"""

# A small red bar across the corner says "not connected" besides the grey.
OFFLINE_LARGE = """<g transform="translate(34 34)">
      <circle r="10" fill="#ffffff" stroke="#7a1010" stroke-width="2"/>
      <path d="M-5.5 -5.5L5.5 5.5M5.5 -5.5L-5.5 5.5" stroke="#c62828" stroke-width="3.2" stroke-linecap="round"/>
    </g>"""
OFFLINE_SMALL = """<path d="M9 9h7v7H9z" fill="#7a1010"/><path d="M10 10h5v5h-5z" fill="#ffffff"/>
  <path d="M10 10h1v1h1v1h1v-1h1v-1h1v1h-1v1h-1v1h1v1h1v1h-1v-1h-1v-1h-1v1h-1v1h-1v-1h1v-1h1v-1h-1v-1h-1z" fill="#c62828"/>"""


def write(name, text):
    with open(os.path.join(HERE, name), "w") as f:
        f.write(text)


def main():
    os.makedirs(HERE, exist_ok=True)
    for kind, scheme in (("primary", BLUE), ("secondary", GREEN)):
        write(f"app-{kind}.svg", large(scheme))
        write(f"app-{kind}-small.svg", small(scheme))
    write("offline-primary.svg", large(GREY, extra=OFFLINE_LARGE))
    write("offline-primary-small.svg", small(GREY, OFFLINE_SMALL))
    write("offline-secondary.svg", large(GREY, extra=OFFLINE_LARGE.replace("#7a1010", "#0c3d17")))
    write("offline-secondary-small.svg", small(GREY, OFFLINE_SMALL.replace("#7a1010", "#0c3d17")))
    # Animation frames: the bubble nods, turns grey for a blink, shrinks, bounces and types.
    write("frame-200.svg", large(BLUE, "rotate(-12 24 24)"))
    write("frame-201.svg", large(BLUE, "rotate(12 24 24)"))
    # 202 doubles as the primary copy's not-connected icon.
    write("frame-203.svg", large(BLUE, "translate(24 26) scale(0.8) translate(-24 -24)"))
    write("frame-204.svg", large(BLUE, "translate(24 24) scale(1.0 0.88) translate(-24 -24)"))
    write("frame-205.svg", large(BLUE).replace(
        '<path d="M15 10h18v5L21.5 29H33v5H15v-5L26.5 15H15z" fill="#ffffff"/>', DOTS))
    write("frame-206.svg", large(WHITE))
    # Shown while the window asks for attention, alternating with the status icon.
    write("attention.svg", large(ORANGE))
    write("attention-small.svg", small(ORANGE))


if __name__ == "__main__":
    main()
