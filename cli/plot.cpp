// fazolt plot: a variable's terms, an output's aggregated set or an output
// over two inputs, drawn with cairo as SVG or PNG. Sections: the chart frame
// (axes, ticks, legend), the three kinds of chart, the command.
#include "cli/commands.h"
#include "cli/report.h"
#include "cli/explainOptions.h"
#include "cli/output.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>

namespace {

// ---- The chart frame.

constexpr double kWidth = 900, kHeight = 500;
constexpr double kLeft = 70, kRight = 270, kTop = 44, kBottom = 56;

struct Rgb {
    double r, g, b;
};

// Distinct line colours for terms (colour-blind safe, after Okabe and Ito).
const Rgb kPalette[] = {{0.00, 0.45, 0.70}, {0.90, 0.62, 0.00}, {0.00, 0.62, 0.45}, {0.80, 0.47, 0.65},
                        {0.34, 0.71, 0.91}, {0.84, 0.37, 0.00}, {0.94, 0.89, 0.26}, {0.3, 0.3, 0.3}};

Rgb paletteColour(size_t k) { return kPalette[k % (sizeof kPalette / sizeof kPalette[0])]; }

struct Axis {
    double low, high;  // data range shown
    double pixelLow, pixelHigh;
    double toPixel(double v) const {
        return high == low ? (pixelLow + pixelHigh) / 2 : pixelLow + (v - low) / (high - low) * (pixelHigh - pixelLow);
    }
};

// About five round steps (1, 2 or 5 times a power of ten) across [low, high].
std::vector<double> niceTicks(double low, double high) {
    std::vector<double> ticks;
    double span = high - low;
    if (!(span > 0) || !std::isfinite(span)) return {low};
    double raw = span / 5, power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = raw / power < 1.5   ? power
                  : raw / power < 3.5 ? 2 * power
                  : raw / power < 7.5 ? 5 * power
                                      : 10 * power;
    for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step)
        ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    return ticks;
}

std::string tickText(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

// About six significant digits: a legend's room holds no more (the tool's
// other commands print the full values).
std::string num(double v) {
    if (!std::isfinite(v)) return orvane::formatDouble(v, false);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

// A file name's ending in any letter case: ".PNG" is a PNG.
bool hasExtension(const std::string &path, const char *extension) {
    size_t n = std::strlen(extension);
    if (path.size() < n) return false;
    for (size_t k = 0; k < n; ++k)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + k])) != extension[k]) return false;
    return true;
}

class Chart {
public:
    // The chart goes to a temporary file beside `path`, which save() puts in
    // place: a failure leaves an existing file as it was.
    Chart(const std::string &path, double width = kWidth, double height = kHeight) : path_(path), output_(path) {
        isPng_ = hasExtension(path, ".png");
        surface_ =
            hasExtension(path, ".svg") ? cairo_svg_surface_create_for_stream(writeChunk, &output_, width, height)
            : hasExtension(path, ".pdf")
                ? cairo_pdf_surface_create_for_stream(writeChunk, &output_, width, height)
                : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
        cr_ = cairo_create(surface_);
        cairo_set_source_rgb(cr_, 1, 1, 1);
        cairo_paint(cr_);
        cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        x = {0, 1, kLeft, width - kRight};
        y = {0, 1, height - kBottom, kTop};
    }
    // The surface first: finishing it may still write to the output.
    ~Chart() {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    Chart(const Chart &) = delete;
    Chart &operator=(const Chart &) = delete;

    cairo_t *cr() { return cr_; }
    Axis x, y;

    // Text whose vertical centre is at py; alignX 0 left, 0.5 centre, 1 right.
    void text(double px, double py, const std::string &s, double size, double alignX = 0) {
        cairo_set_font_size(cr_, size);
        cairo_text_extents_t e;
        cairo_text_extents(cr_, s.c_str(), &e);
        cairo_move_to(cr_, px - alignX * e.x_advance, py - e.y_bearing - e.height / 2);
        cairo_show_text(cr_, s.c_str());
    }

    void axes(const std::string &title, const std::string &xLabel, const std::string &yLabel) {
        cairo_t *c = cr_;
        cairo_set_source_rgb(c, 0, 0, 0);
        cairo_set_line_width(c, 1);
        cairo_rectangle(c, x.pixelLow, y.pixelHigh, x.pixelHigh - x.pixelLow, y.pixelLow - y.pixelHigh);
        cairo_stroke(c);
        for (double t : niceTicks(x.low, x.high)) {
            double px = x.toPixel(t);
            cairo_move_to(c, px, y.pixelLow);
            cairo_line_to(c, px, y.pixelLow + 5);
            cairo_stroke(c);
            text(px, y.pixelLow + 15, tickText(t), 11, 0.5);
        }
        for (double t : niceTicks(y.low, y.high)) {
            double py = y.toPixel(t);
            cairo_move_to(c, x.pixelLow - 5, py);
            cairo_line_to(c, x.pixelLow, py);
            cairo_stroke(c);
            text(x.pixelLow - 8, py, tickText(t), 11, 1);
        }
        text((x.pixelLow + x.pixelHigh) / 2, 20, title, 15, 0.5);
        text((x.pixelLow + x.pixelHigh) / 2, y.pixelLow + 38, xLabel, 13, 0.5);
        cairo_save(c);
        cairo_translate(c, 18, (y.pixelLow + y.pixelHigh) / 2);
        cairo_rotate(c, -M_PI / 2);
        text(0, 0, yLabel, 13, 0.5);
        cairo_restore(c);
    }

    // A line between finite points; a NaN sample breaks the line.
    void curve(const std::vector<double> &xs, const std::vector<double> &ys, Rgb colour, double width = 2) {
        cairo_t *c = cr_;
        cairo_set_source_rgb(c, colour.r, colour.g, colour.b);
        cairo_set_line_width(c, width);
        bool isDrawing = false;
        for (size_t k = 0; k < xs.size() && k < ys.size(); ++k) {
            if (!std::isfinite(ys[k])) {
                isDrawing = false;
                continue;
            }
            double px = x.toPixel(xs[k]), py = y.toPixel(ys[k]);
            if (isDrawing)
                cairo_line_to(c, px, py);
            else
                cairo_move_to(c, px, py);
            isDrawing = true;
        }
        cairo_stroke(c);
    }

    void dashedVertical(double value, Rgb colour) {
        if (!std::isfinite(value)) return;
        cairo_t *c = cr_;
        double dash[] = {6, 4};
        cairo_set_dash(c, dash, 2, 0);
        cairo_set_source_rgb(c, colour.r, colour.g, colour.b);
        cairo_set_line_width(c, 1.5);
        double px = std::clamp(x.toPixel(value), x.pixelLow, x.pixelHigh);
        cairo_move_to(c, px, y.pixelLow);
        cairo_line_to(c, px, y.pixelHigh);
        cairo_stroke(c);
        cairo_set_dash(c, nullptr, 0, 0);
    }

    void marker(double vx, double vy, Rgb colour) {
        if (!std::isfinite(vx) || !std::isfinite(vy)) return;
        cairo_set_source_rgb(cr_, colour.r, colour.g, colour.b);
        cairo_arc(cr_, std::clamp(x.toPixel(vx), x.pixelLow, x.pixelHigh), y.toPixel(vy), 4.5, 0, 2 * M_PI);
        cairo_fill(cr_);
    }

    void legend(size_t row, const std::string &label, Rgb colour) {
        double px = x.pixelHigh + 16, py = y.pixelHigh + 10 + 20 * static_cast<double>(row);
        cairo_set_source_rgb(cr_, colour.r, colour.g, colour.b);
        cairo_rectangle(cr_, px, py - 5, 18, 10);
        cairo_fill(cr_);
        cairo_set_source_rgb(cr_, 0, 0, 0);
        text(px + 24, py, label, 11);
    }

    // Raises HostError when the file could not be written: with the
    // reason when a write failed, else cairo's.
    void save() {
        cairo_surface_flush(surface_);
        cairo_status_t status =
            isPng_ ? cairo_surface_write_to_png_stream(surface_, writeChunk, &output_) : CAIRO_STATUS_SUCCESS;
        cairo_surface_finish(surface_);
        if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface_);
        if (status == CAIRO_STATUS_SUCCESS || status == CAIRO_STATUS_WRITE_ERROR) output_.commit();
        if (status != CAIRO_STATUS_SUCCESS)
            throw orvane::HostError(cliError::kCannotWrite,
                                    "cannot write '" + path_ + "': " + cairo_status_to_string(status));
    }

private:
    static cairo_status_t writeChunk(void *output, const unsigned char *data, unsigned int size) {
        bool isWritten =
            static_cast<Output *>(output)->write(std::string_view(reinterpret_cast<const char *>(data), size));
        return isWritten ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
    }

    std::string path_;
    Output output_;
    bool isPng_ = false;
    cairo_surface_t *surface_ = nullptr;
    cairo_t *cr_ = nullptr;
};

// A value range for an axis: the data's own, widened when it is a single point.
void fitAxis(Axis &axis, double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = 0, high = 1;
    if (low > high) std::swap(low, high);
    if (low == high) low -= 0.5, high += 0.5;
    axis.low = low;
    axis.high = high;
}

// ---- The three kinds of chart.

struct PlotOptions {
    std::string systemPath, modulePath, outputPath;
    std::string variable, outputSet, surfaceOutput;
    std::string surfaceOutputAlias;  // --output, the old spelling
    std::vector<std::string> surfaceInputs;
    std::vector<std::string> fixed;
    int resolution = 101;
    RowOptions row;
    DiagnosticFlags modes;
};

void plotVariable(const fazolt::Explainer &explainer, const PlotOptions &options) {
    const fazolt::SystemInfo &info = explainer.info();
    bool isInput = std::any_of(info.inputs.begin(), info.inputs.end(),
                               [&](const fazolt::VariableInfo &v) { return v.name == options.variable; });
    std::vector<fazolt::VariableInfo> variables = info.inputs;
    variables.insert(variables.end(), info.outputs.begin(), info.outputs.end());
    size_t index = findVariable(variables, options.variable, "--variable");
    if (!isInput) index -= info.inputs.size();
    const fazolt::VariableInfo &v = isInput ? info.inputs[index] : info.outputs[index];
    bool hasRow = !options.row.inputs.empty() || !options.row.row.empty();
    std::vector<double> midpoints = rangeMidpoints(info);
    std::vector<double> row = readRow(options.row, info, &midpoints);
    Chart chart(options.outputPath);
    fitAxis(chart.x, v.low, v.high);
    chart.y.low = 0, chart.y.high = 1.05;
    chart.axes((isInput ? "input " : "output ") + v.name + ": terms", v.name, "degree of membership");
    if (!isInput && !info.isMamdani) {
        // Sugeno output terms are functions of the inputs: their levels at this row.
        fazolt::Explanation e = explainer.explain(row, readModes(options.modes, info.name));
        const std::vector<double> &levels = e.outputs[index].termLevels;
        std::vector<double> all = levels;
        all.push_back(v.low), all.push_back(v.high);
        fitAxis(chart.x, *std::min_element(all.begin(), all.end()), *std::max_element(all.begin(), all.end()));
        for (size_t k = 0; k < levels.size(); ++k) {
            chart.curve({levels[k], levels[k]}, {0, 1}, paletteColour(k), 3);
            chart.legend(k, v.terms[k].name + " = " + num(levels[k]), paletteColour(k));
        }
        chart.save();
        return;
    }
    std::vector<std::vector<double>> curves;
    std::vector<double> xs;
    if (isInput) {
        curves = explainer.inputTermCurves(201)[index];
        xs = fazolt::evenlySpaced(v.low, v.high, 201);
    } else {
        curves = explainer.outputTermCurves()[index];
        xs = info.samplePoints[index];
    }
    std::vector<double> degrees;
    if (isInput && hasRow) {
        fazolt::Explanation e = explainer.explain(row, readModes(options.modes, info.name));
        printWarnings(e.warnings);
        degrees = e.inputs[index].termDegrees;
        chart.dashedVertical(row[index], {0.2, 0.2, 0.2});
    }
    for (size_t k = 0; k < curves.size(); ++k) {
        chart.curve(xs, curves[k], paletteColour(k));
        std::string label = v.terms[k].name;
        if (!degrees.empty()) {
            chart.marker(row[index], degrees[k], paletteColour(k));
            label += " " + num(degrees[k]);
        }
        chart.legend(k, label, paletteColour(k));
    }
    if (!degrees.empty()) {
        // A value beyond the axis is marked at its edge: the legend says so.
        bool isOutside = !(row[index] >= chart.x.low && row[index] <= chart.x.high);
        chart.legend(curves.size(), v.name + " = " + num(row[index]) + (isOutside ? " (beyond the axis)" : ""),
                     {0.2, 0.2, 0.2});
    }
    chart.save();
}

void plotOutputSet(const fazolt::Explainer &explainer, const PlotOptions &options) {
    const fazolt::SystemInfo &info = explainer.info();
    size_t o = findVariable(info.outputs, options.outputSet, "--output-set");
    const fazolt::VariableInfo &v = info.outputs[o];
    std::vector<double> row = readRow(options.row, info);
    fazolt::Explanation e = explainer.explain(row, readModes(options.modes, info.name));
    printWarnings(e.warnings);
    double crisp = e.outputs[o].value;
    Chart chart(options.outputPath);
    fitAxis(chart.x, v.low, v.high);
    chart.y.low = 0, chart.y.high = 1.05;
    Rgb setColour = paletteColour(0), crispColour = paletteColour(5);
    if (info.isMamdani) {
        const std::vector<double> &xs = info.samplePoints[o];
        const std::vector<double> &set = e.outputs[o].aggregatedSet;
        fazolt::SetSummary s = fazolt::summarizeSet(xs, set);
        if (s.height > 1) chart.y.high = s.height * 1.05;
        chart.axes("output " + v.name + ": aggregated set", v.name, "degree of membership");
        cairo_t *c = chart.cr();
        cairo_move_to(c, chart.x.toPixel(xs.front()), chart.y.toPixel(0));
        for (size_t k = 0; k < xs.size(); ++k)
            cairo_line_to(c, chart.x.toPixel(xs[k]), chart.y.toPixel(std::isfinite(set[k]) ? set[k] : 0));
        cairo_line_to(c, chart.x.toPixel(xs.back()), chart.y.toPixel(0));
        cairo_close_path(c);
        cairo_set_source_rgba(c, setColour.r, setColour.g, setColour.b, 0.3);
        cairo_fill(c);
        chart.curve(xs, set, setColour);
        chart.legend(0, "aggregated set", setColour);
    } else {
        // Each rule's level, as a spike as high as the rule fired.
        double highest = 0;
        for (const fazolt::RuleExplanation &r : e.rules)
            if (std::isfinite(r.firingStrength)) highest = std::max(highest, r.firingStrength);
        if (highest > 0) chart.y.high = highest * 1.1;
        chart.axes("output " + v.name + ": rule levels and firing strengths", v.name, "firing strength");
        for (size_t r = 0; r < e.rules.size(); ++r) {
            if (info.rules[r].consequent[o] == 0) continue;
            double level = e.rules[r].outputLevels[o], strength = e.rules[r].firingStrength;
            chart.curve({level, level}, {0, strength}, setColour, 3);
            chart.marker(level, strength, setColour);
        }
        chart.legend(0, "rule levels", setColour);
    }
    chart.dashedVertical(crisp, crispColour);
    chart.legend(1, info.defuzzMethod + " = " + num(crisp), crispColour);
    chart.save();
}

// From dark blue through green to yellow; t in [0, 1].
Rgb heatColour(double t) {
    static const Rgb stops[] = {
        {0.27, 0.00, 0.33}, {0.23, 0.32, 0.55}, {0.13, 0.57, 0.55}, {0.37, 0.79, 0.38}, {0.99, 0.91, 0.14}};
    t = std::clamp(t, 0.0, 1.0) * 4;
    size_t k = std::min<size_t>(static_cast<size_t>(t), 3);
    double f = t - static_cast<double>(k);
    return {stops[k].r + f * (stops[k + 1].r - stops[k].r), stops[k].g + f * (stops[k + 1].g - stops[k].g),
            stops[k].b + f * (stops[k + 1].b - stops[k].b)};
}

// The heatmap as one image of the frame's size, each pixel the colour of the
// nearest grid point: cells meet without seams, and an SVG holds one picture
// rather than a rectangle per cell.
void paintHeatmap(Chart &chart, const fazolt::Explainer::Surface &s, size_t n, double low, double high) {
    std::vector<uint32_t> colours(n * n);
    for (size_t k = 0; k < n * n; ++k) {
        double v = s.values[k];
        Rgb colour = std::isfinite(v) ? heatColour(high > low ? (v - low) / (high - low) : 0.5) : Rgb{0.8, 0.8, 0.8};
        auto byte = [](double f) { return static_cast<uint32_t>(std::lround(std::clamp(f, 0.0, 1.0) * 255)); };
        colours[k] = 0xff000000u | byte(colour.r) << 16 | byte(colour.g) << 8 | byte(colour.b);
    }
    int width = static_cast<int>(std::lround(chart.x.pixelHigh - chart.x.pixelLow));
    int height = static_cast<int>(std::lround(chart.y.pixelLow - chart.y.pixelHigh));
    cairo_surface_t *image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char *data = cairo_image_surface_get_data(image);
    int stride = cairo_image_surface_get_stride(image);
    // The grid index nearest to the value at a pixel's centre along one axis.
    auto nearest = [n](const std::vector<double> &grid, const Axis &axis, double pixel) {
        double value = axis.low + (pixel - axis.pixelLow) / (axis.pixelHigh - axis.pixelLow) * (axis.high - axis.low);
        double span = grid.back() - grid.front();
        double k = span != 0 ? std::round((value - grid.front()) / span * static_cast<double>(n - 1)) : 0;
        return static_cast<size_t>(std::clamp(k, 0.0, static_cast<double>(n - 1)));
    };
    std::vector<size_t> columns(static_cast<size_t>(width));
    for (int px = 0; px < width; ++px) columns[px] = nearest(s.xs, chart.x, chart.x.pixelLow + px + 0.5);
    for (int py = 0; py < height; ++py) {
        size_t iy = nearest(s.ys, chart.y, chart.y.pixelHigh + py + 0.5);
        auto *line = reinterpret_cast<uint32_t *>(data + static_cast<ptrdiff_t>(py) * stride);
        for (int px = 0; px < width; ++px) line[px] = colours[iy * n + columns[px]];
    }
    cairo_surface_mark_dirty(image);
    cairo_set_source_surface(chart.cr(), image, chart.x.pixelLow, chart.y.pixelHigh);
    cairo_paint(chart.cr());
    cairo_surface_destroy(image);
}

void plotSurface(const fazolt::Explainer &explainer, const PlotOptions &options) {
    const fazolt::SystemInfo &info = explainer.info();
    size_t xi = findVariable(info.inputs, options.surfaceInputs[0], "--surface");
    size_t yi = findVariable(info.inputs, options.surfaceInputs[1], "--surface");
    if (xi == yi) throw orvane::HostError(cliError::kSamePair, "--surface: X and Y must be two different inputs");
    if (options.surfaceOutput.empty() && info.outputs.size() != 1)
        throw orvane::HostError(cliError::kInputMissing, "--surface-output is missing: the system has several outputs");
    size_t o =
        options.surfaceOutput.empty() ? 0 : findVariable(info.outputs, options.surfaceOutput, "--surface-output");
    RowOptions fixed;
    fixed.inputs = options.fixed;
    fixed.inputOption = "--fixed";
    std::vector<double> midpoints = rangeMidpoints(info);
    std::vector<double> row = readRow(fixed, info, &midpoints);
    fazolt::Explainer::Surface s =
        explainer.surface(xi, yi, o, row, options.resolution, readModes(options.modes, info.name));
    printWarnings(s.warnings);
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double v : s.values)
        if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
    if (!(low <= high)) low = 0, high = 1;
    Chart chart(options.outputPath);
    fitAxis(chart.x, info.inputs[xi].low, info.inputs[xi].high);
    fitAxis(chart.y, info.inputs[yi].low, info.inputs[yi].high);
    size_t n = s.xs.size();
    cairo_t *c = chart.cr();
    paintHeatmap(chart, s, n, low, high);
    std::string fixedText;
    for (size_t i = 0; i < row.size(); ++i)
        if (i != xi && i != yi) fixedText += (fixedText.empty() ? ", " : " ") + info.inputs[i].name + "=" + num(row[i]);
    chart.axes(
        "output " + info.outputs[o].name + " over " + info.inputs[xi].name + " and " + info.inputs[yi].name + fixedText,
        info.inputs[xi].name, info.inputs[yi].name);
    // The colour bar: the legend of a heatmap.
    double barX = chart.x.pixelHigh + 24, barTop = chart.y.pixelHigh, barBottom = chart.y.pixelLow;
    for (int k = 0; k < 100; ++k) {
        Rgb colour = heatColour((k + 0.5) / 100);
        cairo_set_source_rgb(c, colour.r, colour.g, colour.b);
        double py = barBottom - (barBottom - barTop) * (k + 1) / 100.0;
        cairo_rectangle(c, barX, py, 20, (barBottom - barTop) / 100.0 + 0.5);
        cairo_fill(c);
    }
    Axis bar{low, high, barBottom, barTop};
    fitAxis(bar, low, high);
    cairo_set_source_rgb(c, 0, 0, 0);
    for (double t : niceTicks(bar.low, bar.high)) {
        if (t < low || t > high) continue;
        chart.text(barX + 26, bar.toPixel(t), tickText(t), 11);
    }
    chart.text(barX, barTop - 12, info.outputs[o].name, 12);
    chart.save();
}

int runPlot(const PlotOptions &options) {
    const std::string &path = options.outputPath;
    if (!hasExtension(path, ".svg") && !hasExtension(path, ".png") && !hasExtension(path, ".pdf")) {
        printUsageError("-o " + path + ": the file name must end in .svg, .png or .pdf");
        return EXIT_USAGE;
    }
    int kinds = !options.variable.empty() + !options.outputSet.empty() + !options.surfaceInputs.empty();
    if (kinds != 1) {
        printUsageError("give exactly one of --variable, --output-set and --surface");
        return EXIT_USAGE;
    }
    fazolt::Explainer explainer = loadExplainer(options.systemPath, options.modulePath);
    // cairo and fontconfig keep their font caches for the process's life: hand them back on
    // every way out (a failed write too), once the chart is gone, so that a leak check of
    // the tool sees only its own blocks.
    struct FontCaches {
        ~FontCaches() {
            cairo_debug_reset_static_data();
            FcFini();
        }
    } fontCaches;
    if (!options.variable.empty())
        plotVariable(explainer, options);
    else if (!options.outputSet.empty())
        plotOutputSet(explainer, options);
    else
        plotSurface(explainer, options);
    return 0;
}

}  // namespace

void addPlotCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<PlotOptions>();
    CLI::App *plot = app.add_subcommand(
        "plot", "Draw a variable's terms, an output's aggregated set or a surface (SVG, PNG or PDF)");
    plot->footer(
        "One chart per call, with axes, ticks, labels and a legend; the file name's ending\n"
        "(.svg, .png or .pdf) chooses the format. Every value drawn comes from the module.\n\n"
        "Examples:\n"
        "  fazolt plot examples/dimmer/dimmer.json -o daylight.svg --variable daylight --input daylight=30\n"
        "  fazolt plot examples/dimmer/dimmer.json -o lamp.png --output-set lamp --row 30,0.9\n"
        "  fazolt plot examples/sugeno/brake.json -o surface.png --surface speed gap --surface-output pressure\n"
        "  fazolt plot big.json -o s.svg --surface a b --surface-output y --fixed c=0.5 --resolution 51");
    addSystemOption(plot, options->systemPath);
    plot->add_option("-o,--output-file", options->outputPath, "The chart: FILE.svg, FILE.png or FILE.pdf")
        ->required()
        ->type_name("FILE");
    plot->add_option("--variable", options->variable, "Chart a variable's terms (marks the degrees at --input)")
        ->type_name("NAME");
    plot->add_option("--output-set", options->outputSet, "Chart an output's aggregated set and crisp value at --input")
        ->type_name("NAME");
    plot->add_option("--surface", options->surfaceInputs, "Chart an output over two inputs as a heatmap")
        ->expected(2)
        ->type_name("X Y");
    CLI::Option *surfaceOutput = plot->add_option("--surface-output", options->surfaceOutput,
                                                  "The surface's output (needed with several outputs)")
                                     ->type_name("Z");
    // -o is the output file in every command; the surface's output was once
    // --output, which still works, with a note.
    plot->add_option("--output", options->surfaceOutputAlias, "")->group("")->excludes(surfaceOutput);
    // Several values a flag; the callback takes SYSTEM back if they swallowed it.
    plot->add_option("--fixed", options->fixed, "The surface's other inputs (default: their range midpoints)")
        ->type_name("NAME=VALUE ...")
        ->allow_extra_args(true);
    plot->get_option("system")->required(false);
    plot->add_option("--resolution", options->resolution, "Surface grid points per side, 2 to 1000 (default 101)")
        ->check(CLI::Range(2, 1000))
        ->type_name("N");
    addRowOptions(plot, options->row);
    addDiagnosticsOptions(plot, options->modes);
    addModuleOption(plot, options->modulePath);
    addFunctionsOption(plot);
    plot->callback([options, &status]() {
        // "--fixed a=1 b=2 SYSTEM -o F": the parser gave SYSTEM to --fixed.
        std::vector<std::string> &fixed = options->fixed;
        auto path = std::find_if(fixed.begin(), fixed.end(),
                                 [](const std::string &v) { return v.find('=') == std::string::npos; });
        if (options->systemPath.empty() && path != fixed.end()) {
            options->systemPath = *path;
            fixed.erase(path);
        }
        if (options->systemPath.empty()) throw CLI::RequiredError("system");
        if (!options->surfaceOutputAlias.empty()) {
            printNotice("--output NAME is now --surface-output NAME (-o is the output file)");
            options->surfaceOutput = options->surfaceOutputAlias;
        }
        status = runPlot(*options);
    });
}
