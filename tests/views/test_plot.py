"""Every kind of chart is written as a valid, non-blank SVG and PNG (and a PDF) for a
Mamdani and a Sugeno system; bad requests get one error line and no file."""
import xml.etree.ElementTree as ET

import cairo
import pytest

from conftest import ROOT, run

DIMMER = ROOT / "examples/dimmer/dimmer.json"
BRAKE = ROOT / "examples/sugeno/brake.json"

CHARTS = {
    "dimmer-variable": (DIMMER, ["--variable", "daylight", "--input", "daylight=30", "--input", "motion=0.9"]),
    "dimmer-output-terms": (DIMMER, ["--variable", "lamp"]),
    "dimmer-output-set": (DIMMER, ["--output-set", "lamp", "--row", "30,0.9"]),
    "dimmer-surface": (DIMMER, ["--surface", "daylight", "motion", "--resolution", "31"]),
    "brake-variable": (BRAKE, ["--variable", "gap", "--row", "60,40"]),
    "brake-output-terms": (BRAKE, ["--variable", "pressure", "--row", "60,40"]),
    "brake-output-set": (BRAKE, ["--output-set", "pressure", "--input", "speed=60", "--input", "gap=40"]),
    "brake-surface": (BRAKE, ["--surface", "speed", "gap", "--surface-output", "pressure", "--fixed", "speed=1"]),
}


@pytest.mark.parametrize("name", CHARTS)
def test_chart_is_valid_and_drawn(name, tmp_path):
    system, what = CHARTS[name]
    svg, png = tmp_path / (name + ".svg"), tmp_path / (name + ".png")
    run("plot", system, "-o", svg, *what)
    run("plot", system, "-o", png, *what)
    run("plot", system, "-o", tmp_path / (name + ".pdf"), *what)
    assert (tmp_path / (name + ".pdf")).read_bytes().startswith(b"%PDF")
    root = ET.parse(svg).getroot()
    assert root.tag.endswith("svg")
    drawn = [el for el in root.iter() if el.tag.rsplit("}", 1)[-1] in ("path", "rect", "use")]
    assert len(drawn) > 20  # frame, ticks, curves or cells, and the glyphs of the labels
    image = cairo.ImageSurface.create_from_png(str(png))
    assert (image.get_width(), image.get_height()) == (900, 500)
    data = bytes(image.get_data())
    pixels = {data[k:k + 4] for k in range(0, len(data), 4 * 7)}
    assert len(pixels) > 20  # more than a blank page and a frame


@pytest.mark.parametrize("args, message", [
    (["-o", "x.gif", "--variable", "daylight"], "must end in .svg, .png or .pdf"),
    (["-o", "x.svg"], "exactly one of"),
    (["-o", "x.svg", "--variable", "dayligth"], 'no variable "dayligth" (did you mean "daylight"?)'),
    (["-o", "x.svg", "--variable", "lmap"], 'did you mean "lamp"?) (there are daylight, motion, lamp)'),
    (["-o", "x.svg", "--output-set", "lamp", "--input", "daylight=30"], "motion=VALUE is missing"),
    (["-o", "x.svg", "--output-set", "lamp", "--row", "30,abc"], 'column 2: expected a number, got "abc"'),
    (["-o", "x.svg", "--surface", "daylight", "daylight"], "two different inputs"),
    (["-o", "x.svg", "--surface", "daylight", "motion", "--resolution", "5000"], "--resolution"),
    (["-o", "x.svg", "--surface", "daylight", "motion", "--fixed", "motoin=1"], '--fixed motoin=1: no variable'),
])
def test_bad_chart_requests_are_refused(args, message, tmp_path):
    result = run("plot", DIMMER, *[str(tmp_path / a) if a.startswith("x.") else a for a in args], check=False)
    assert result.returncode in (1, 2) and result.stdout == ""
    assert result.stderr.startswith("error: ") and message in result.stderr and result.stderr.count("\n") == 1
    assert not list(tmp_path.iterdir())


def test_surface_is_one_image_and_endings_ignore_case(tmp_path):
    """A heatmap is one picture, not a rectangle per cell: a fine grid stays small."""
    svg = tmp_path / "surface.SVG"
    run("plot", DIMMER, "-o", svg, "--surface", "daylight", "motion", "--resolution", "301")
    root = ET.parse(svg).getroot()
    assert len([el for el in root.iter() if el.tag.endswith("}image")]) == 1
    assert svg.stat().st_size < 300_000
    run("plot", DIMMER, "-o", tmp_path / "surface.PNG", "--surface", "daylight", "motion")
    assert (tmp_path / "surface.PNG").read_bytes().startswith(b"\x89PNG")
    # Several --fixed values after one flag, with SYSTEM after them: the chart of one value a flag.
    big = ROOT / "bench/systems/big_mamdani.json"
    surface = ["--surface", "in1", "in2", "--surface-output", "out1", "--resolution", "11"]
    run("plot", "--fixed", "in3=0.5", "in4=0.25", big, "-o", tmp_path / "a.png", *surface)
    # The old spelling of --surface-output still draws the same chart, with a note.
    old = run("plot", big, "-o", tmp_path / "c.png", "--surface", "in1", "in2", "--output", "out1", "--resolution", "11",
              "--fixed", "in3=0.5", "in4=0.25")
    assert "--surface-output" in old.stderr
    assert (tmp_path / "c.png").read_bytes() == (tmp_path / "a.png").read_bytes()
    run("plot", big, "-o", tmp_path / "b.png", *surface, "--fixed", "in3=0.5", "--fixed", "in4=0.25")
    assert (tmp_path / "a.png").read_bytes() == (tmp_path / "b.png").read_bytes()
