// The fazolt view page: every number shown comes from the module through the
// server's JSON API; the page only draws. Sections: numbers, the API, charts,
// inputs and evaluation, the surface.
"use strict";

// ---- Numbers: the API writes NaN and the infinities as strings.

function toNumber(v) {
  if (typeof v === "number") return v;
  return v === "Inf" ? Infinity : v === "-Inf" ? -Infinity : NaN;
}

// The shortest text that reads back to the same double, as the tool prints it.
function numberText(v) {
  const x = toNumber(v);
  if (Number.isNaN(x)) return "NaN";
  if (x === Infinity) return "Inf";
  if (x === -Infinity) return "-Inf";
  return Object.is(x, -0) ? "-0" : String(x);
}

// About six significant digits, for the charts and the rules; their full values show on hover.
function shortText(v) {
  const x = toNumber(v);
  return Number.isFinite(x) && !Object.is(x, -0) ? String(Number(x.toPrecision(6))) : numberText(v);
}

function counted(n, noun) { return n + " " + noun + (n === 1 ? "" : "s"); }

const COLOURS = ["#0072b2", "#e69f00", "#009e73", "#cc79a7", "#56b4e9", "#d55e00", "#f0e442", "#4d4d4d"];

// ---- The page's state, all of it: the system as the API describes it,
// the evaluation request in flight, and the surface last drawn.

const view = {
  system: null,
  inFlight: false,        // an evaluation request is out
  isWaiting: false,       // the inputs changed while it was out
  sequence: 0,            // answers so far, for the tests
  lastEvaluation: null,   // what the charts show, redrawn on resize
  surfaceTimer: null,     // the surface waits for the inputs to settle
  surfaceKey: "",         // what the surface shows; "" to draw it again
};

// ---- The API.

async function getJson(url) {
  const response = await fetch(url);
  const body = await response.json();
  if (!response.ok) {
    const e = body.error || {};
    throw new Error((e.identifier || ("parameter " + e.parameter)) + ": " + e.message);
  }
  return body;
}

function showError(message) {
  const box = document.getElementById("error");
  box.textContent = message;
  box.hidden = !message;
}

// ---- Charts on a canvas: a frame with ticks, labels and a legend.

function niceTicks(low, high) {
  const span = high - low;
  if (!(span > 0) || !Number.isFinite(span)) return [low];
  const raw = span / 5, power = Math.pow(10, Math.floor(Math.log10(raw)));
  const r = raw / power;
  const step = (r < 1.5 ? 1 : r < 3.5 ? 2 : r < 7.5 ? 5 : 10) * power;
  const ticks = [];
  for (let t = Math.ceil(low / step) * step; t <= high + step * 1e-9; t += step) {
    ticks.push(Math.abs(t) < step * 1e-9 ? 0 : t);
  }
  return ticks;
}

function tickText(t) { return String(Number(t.toPrecision(6))); }

// A range with 2% room on each side, so that marks at its ends stay visible.
function padRange([low, high]) {
  const room = (high - low) * 0.02;
  return [low - room, high + room];
}

function fitRange(low, high) {
  if (!Number.isFinite(low) || !Number.isFinite(high)) return [0, 1];
  if (low > high) [low, high] = [high, low];
  return low === high ? [low - 0.5, high + 0.5] : [low, high];
}

// chart: {title, xLabel, yLabel, x: [lo, hi], y: [lo, hi], lines: [{xs, ys, colour, fill}],
//        spikes: [{x, y, colour}], verticals: [{x, colour}], markers: [{x, y, colour}],
//        legend: [{label, colour}]}
function drawChart(canvas, chart) {
  const ctx = canvas.getContext("2d");
  const frame = chartFrame(canvas, chart, legendWidth(canvas.width));
  const {left, right, top, bottom, w, h, px, py} = frame;
  ctx.clearRect(0, 0, w, h);
  ctx.font = "11px DejaVu Sans, sans-serif";
  for (const line of chart.lines || []) {
    ctx.strokeStyle = line.colour;
    ctx.lineWidth = 2;
    ctx.beginPath();
    let drawing = false;
    line.xs.forEach((x, k) => {
      const y = toNumber(line.ys[k]);
      if (!Number.isFinite(y)) { drawing = false; return; }
      if (drawing) ctx.lineTo(px(x), py(y)); else ctx.moveTo(px(x), py(y));
      drawing = true;
    });
    ctx.stroke();
    if (line.fill) {
      ctx.globalAlpha = 0.25;
      ctx.fillStyle = line.colour;
      ctx.beginPath();
      ctx.moveTo(px(line.xs[0]), py(0));
      line.xs.forEach((x, k) => {
        const y = toNumber(line.ys[k]);
        ctx.lineTo(px(x), py(Number.isFinite(y) ? y : 0));
      });
      ctx.lineTo(px(line.xs[line.xs.length - 1]), py(0));
      ctx.fill();
      ctx.globalAlpha = 1;
    }
  }
  for (const s of chart.spikes || []) {
    ctx.strokeStyle = s.colour;
    ctx.lineWidth = 3;
    ctx.beginPath();
    ctx.moveTo(px(s.x), py(0));
    ctx.lineTo(px(s.x), py(s.y));
    ctx.stroke();
  }
  for (const v of chart.verticals || []) {
    if (!Number.isFinite(v.x)) continue;
    ctx.strokeStyle = v.colour;
    ctx.setLineDash([6, 4]);
    ctx.lineWidth = 1.5;
    const x = Math.min(Math.max(px(v.x), left), w - right);
    ctx.beginPath();
    ctx.moveTo(x, top);
    ctx.lineTo(x, h - bottom);
    ctx.stroke();
    ctx.setLineDash([]);
  }
  for (const m of chart.markers || []) {
    if (!Number.isFinite(m.x) || !Number.isFinite(m.y)) continue;
    ctx.fillStyle = m.colour;
    ctx.beginPath();
    ctx.arc(px(m.x), py(m.y), 4, 0, 2 * Math.PI);
    ctx.fill();
  }
  drawFrame(ctx, chart, frame);
  const legend = chart.legend || [];
  legend.forEach((item, k) => {
    ctx.fillStyle = item.colour;
    ctx.fillRect(w - right + 12, top + 4 + 18 * k, 14, 9);
    ctx.fillStyle = "#222";
    ctx.textAlign = "left";
    ctx.textBaseline = "middle";
    const text = item.label + ("value" in item ? " " + shortText(item.value) : "");
    ctx.fillText(fitText(ctx, text, right - 34), w - right + 30, top + 9 + 18 * k);
  });
  canvas.title = legend.map(item => item.label + ("value" in item ? " " + numberText(item.value) : "")).join("\n");
}

// Where a chart is drawn on its canvas, the right-hand `right` pixels left
// to its legend, and the scales from the chart's ranges to pixels.
function chartFrame(canvas, chart, right) {
  const w = canvas.width, h = canvas.height, left = 50, top = 26, bottom = 40;
  const px = x => left + (x - chart.x[0]) / (chart.x[1] - chart.x[0]) * (w - left - right);
  const py = y => h - bottom - (y - chart.y[0]) / (chart.y[1] - chart.y[0]) * (h - top - bottom);
  return {left, right, top, bottom, w, h, px, py};
}

// The legend's share of a chart: narrower on a narrow screen.
function legendWidth(w) { return Math.round(Math.min(200, w * 0.32)); }

// Text cut to a width with an ellipsis (the whole shows on hover).
function fitText(ctx, text, width) {
  if (ctx.measureText(text).width <= width) return text;
  while (text.length > 1 && ctx.measureText(text + "\u2026").width > width) text = text.slice(0, -1);
  return text + "\u2026";
}

function drawFrame(ctx, chart, f) {
  ctx.strokeStyle = "#222";
  ctx.lineWidth = 1;
  ctx.strokeRect(f.left, f.top, f.w - f.left - f.right, f.h - f.top - f.bottom);
  ctx.fillStyle = "#222";
  ctx.textAlign = "center";
  ctx.textBaseline = "top";
  for (const t of niceTicks(chart.x[0], chart.x[1])) {
    ctx.beginPath(); ctx.moveTo(f.px(t), f.h - f.bottom); ctx.lineTo(f.px(t), f.h - f.bottom + 4); ctx.stroke();
    ctx.fillText(tickText(t), f.px(t), f.h - f.bottom + 6);
  }
  ctx.fillText(chart.xLabel, (f.left + f.w - f.right) / 2, f.h - 16);
  ctx.textAlign = "right";
  ctx.textBaseline = "middle";
  for (const t of niceTicks(chart.y[0], chart.y[1])) {
    ctx.beginPath(); ctx.moveTo(f.left - 4, f.py(t)); ctx.lineTo(f.left, f.py(t)); ctx.stroke();
    ctx.fillText(tickText(t), f.left - 6, f.py(t));
  }
  ctx.textAlign = "center";
  ctx.font = "bold 12px DejaVu Sans, sans-serif";
  ctx.fillText(chart.title, (f.left + f.w - f.right) / 2, 12);
  ctx.font = "11px DejaVu Sans, sans-serif";
  ctx.save();
  ctx.translate(12, (f.top + f.h - f.bottom) / 2);
  ctx.rotate(-Math.PI / 2);
  ctx.fillText(chart.yLabel, 0, 0);
  ctx.restore();
}

// A chart's canvas, as wide as its place allows up to 560 pixels.
function chartCanvas(parent, id) {
  let canvas = document.getElementById(id);
  if (!canvas) {
    canvas = document.createElement("canvas");
    canvas.id = id;
    canvas.height = 230;
    parent.appendChild(canvas);
  }
  fitWidth(canvas, parent, 560);
  return canvas;
}

function fitWidth(canvas, parent, widest) {
  const style = getComputedStyle(parent);
  const inner = parent.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
  const width = Math.max(240, Math.min(widest, Math.floor(inner) - 2));
  if (canvas.width !== width) canvas.width = width;
}

// ---- Inputs and evaluation.

const DIAGNOSTICS = ["onOutOfRange", "onNoRuleFired", "onEmptySet"];

function buildDiagnostics() {
  for (const name of DIAGNOSTICS) {
    const select = document.getElementById("diag-" + name);
    for (const mode of ["warning", "error", "none"]) select.add(new Option(mode, mode));
    select.addEventListener("change", () => { view.surfaceKey = ""; requestEvaluation(); });
  }
}

function diagnosticParams() {
  const params = {};
  for (const name of DIAGNOSTICS) params[name] = document.getElementById("diag-" + name).value;
  return params;
}

function currentRowTexts() {
  return view.system.inputs.map((_, i) => document.getElementById("input-" + i + "-box").value.trim());
}

function buildInputs() {
  const box = document.getElementById("inputs");
  view.system.inputs.forEach((v, i) => {
    const [lo, hi] = [toNumber(v.range[0]), toNumber(v.range[1])];
    const row = document.createElement("div");
    row.className = "input-row";
    const mid = String(lo / 2 + hi / 2);  // (lo + hi) / 2 overflows near the largest doubles
    row.innerHTML = '<label for="input-' + i + '-slider"></label>' +
      '<input type="range" id="input-' + i + '-slider">' +
      '<input type="number" id="input-' + i + '-box" step="any">' +
      '<span class="range"></span>';
    row.querySelector("label").textContent = v.name;
    row.querySelector(".range").textContent = "range " + numberText(v.range[0]) + " to " + numberText(v.range[1]);
    const slider = row.querySelector("input[type=range]");
    slider.min = String(Math.min(lo, hi));
    slider.max = String(Math.max(lo, hi));
    slider.step = String(Math.abs(hi - lo) / 1000 || 1);
    slider.value = mid;
    const number = row.querySelector("input[type=number]");
    number.value = mid;
    slider.addEventListener("input", () => { number.value = slider.value; requestEvaluation(); });
    number.addEventListener("input", () => {
      if (number.value.trim() !== "" && Number.isFinite(Number(number.value))) slider.value = number.value;
      requestEvaluation();
    });
    box.appendChild(row);
  });
}

function buildOutputsAndRules() {
  const outputs = document.getElementById("outputs");
  view.system.outputs.forEach((v, o) => {
    const div = document.createElement("div");
    div.className = "output";
    div.innerHTML = '<span class="name"></span> = <span class="crisp" id="output-' + o + '">?</span> ' +
      '<span class="method"></span>';
    div.querySelector(".name").textContent = v.name;
    div.querySelector(".method").textContent = "(" + view.system.defuzzMethod + ")";
    outputs.appendChild(div);
  });
  const rules = document.getElementById("rules");
  view.system.rules.forEach((rule, r) => {
    const li = document.createElement("li");
    li.innerHTML = '<div class="rule" id="rule-' + r + '"><div class="bar"><div class="fill"></div></div>' +
      '<span class="strength"></span><span class="text"></span></div>';
    li.querySelector(".text").textContent = rule.text;
    rules.appendChild(li);
  });
}

// The charts follow the window's width.
window.addEventListener("resize", () => {
  if (!view.system) return;
  if (view.lastEvaluation && !document.body.classList.contains("stale")) {
    drawVariables(view.lastEvaluation);
    drawSets(view.lastEvaluation);
  }
  view.surfaceKey = "";
  scheduleSurface();
});

// Results stay grey from the moment the inputs change until their answer
// arrives, so no number on the page belongs to other inputs than those shown.
function markStale() {
  document.body.classList.add("stale");
  document.getElementById("surface-canvas").dataset.state = "stale";
}

// After a failed evaluation nothing is shown for the inputs that failed.
function blankResults() {
  view.lastEvaluation = null;
  document.body.classList.remove("stale");
  document.querySelectorAll("#outputs .crisp").forEach(el => { el.textContent = "\u2013"; });
  document.querySelectorAll("#rules .rule").forEach(row => {
    row.querySelector(".fill").style.width = "0";
    row.querySelector(".strength").textContent = "";
    row.dataset.strength = "";
  });
  document.getElementById("warnings").textContent = "";
  document.querySelectorAll("#variables canvas, #sets canvas").forEach(c => {
    c.getContext("2d").clearRect(0, 0, c.width, c.height);
  });
}

// One request at a time; changes made meanwhile are sent when it is answered.
function requestEvaluation() {
  markStale();
  if (view.inFlight) { view.isWaiting = true; return; }
  view.inFlight = true;
  const texts = currentRowTexts();
  const params = new URLSearchParams({row: texts.join(","), ...diagnosticParams()});
  getJson("/api/evaluate?" + params)
    .then(e => {
      if (view.isWaiting) return;  // already out of date: the next answer is on its way
      showError("");
      render(e, texts);
      document.body.classList.remove("stale");
    })
    .catch(err => {
      if (view.isWaiting) return;
      showError("Evaluation failed: " + err.message);
      blankResults();
      document.body.dataset.row = texts.join(",");
    })
    .finally(() => {
      view.inFlight = false;
      document.body.dataset.sequence = String(++view.sequence);
      if (view.isWaiting) { view.isWaiting = false; requestEvaluation(); }
      else scheduleSurface();
    });
}

function render(e, texts) {
  e.outputs.forEach((out, o) => {
    const el = document.getElementById("output-" + o);
    el.textContent = numberText(out.value);
  });
  const rows = document.querySelectorAll("#rules .rule");
  e.rules.forEach((rule, r) => {
    const s = toNumber(rule.firingStrength);
    const row = rows[r];
    row.querySelector(".fill").style.width = (Number.isFinite(s) ? Math.max(0, Math.min(1, s)) * 100 : 0) + "%";
    row.querySelector(".strength").textContent = shortText(rule.firingStrength);
    row.querySelector(".strength").title = numberText(rule.firingStrength);
    row.dataset.strength = numberText(rule.firingStrength);
    row.classList.toggle("idle", s === 0);
  });
  const warnings = e.warnings.map(w => w.message);
  document.getElementById("warnings").textContent = warnings.length ? "Warnings: " + warnings.join("; ") : "";
  drawVariables(e);
  drawSets(e);
  view.lastEvaluation = e;
  document.body.dataset.row = texts.join(",");
}

function drawVariables(e) {
  const parent = document.getElementById("variables");
  view.system.inputs.forEach((v, i) => {
    const xs = view.system.inputCurvePoints[i];
    const value = toNumber(e.inputs[i].value);
    drawChart(chartCanvas(parent, "variable-input-" + i), {
      title: "input " + v.name, xLabel: v.name, yLabel: "degree",
      x: fitRange(toNumber(v.range[0]), toNumber(v.range[1])), y: [0, 1.05],
      lines: v.terms.map((t, k) => ({xs, ys: view.system.inputCurves[i][k], colour: COLOURS[k % COLOURS.length]})),
      verticals: [{x: value, colour: "#333"}],
      markers: e.inputs[i].terms.map((t, k) => ({x: value, y: toNumber(t.degree), colour: COLOURS[k % COLOURS.length]})),
      legend: e.inputs[i].terms.map((t, k) => ({label: t.name, value: t.degree, colour: COLOURS[k % COLOURS.length]})),
    });
  });
  view.system.outputs.forEach((v, o) => {
    const canvas = chartCanvas(parent, "variable-output-" + o);
    if (view.system.isMamdani) {
      const xs = view.system.samplePoints[o];
      drawChart(canvas, {
        title: "output " + v.name, xLabel: v.name, yLabel: "degree",
        x: fitRange(toNumber(v.range[0]), toNumber(v.range[1])), y: [0, 1.05],
        lines: v.terms.map((t, k) => ({xs, ys: view.system.outputCurves[o][k], colour: COLOURS[k % COLOURS.length]})),
        legend: v.terms.map((t, k) => ({label: t.name, colour: COLOURS[k % COLOURS.length]})),
      });
    } else {
      const levels = e.outputs[o].termLevels.map(toNumber);
      const finite = levels.filter(Number.isFinite).concat([toNumber(v.range[0]), toNumber(v.range[1])]);
      drawChart(canvas, {
        title: "output " + v.name + ": term levels here", xLabel: v.name, yLabel: "",
        x: padRange(fitRange(Math.min(...finite), Math.max(...finite))), y: [0, 1.05],
        spikes: levels.map((x, k) => ({x, y: 1, colour: COLOURS[k % COLOURS.length]})),
        legend: v.terms.map((t, k) => ({label: t.name, value: e.outputs[o].termLevels[k], colour: COLOURS[k % COLOURS.length]})),
      });
    }
  });
}

function drawSets(e) {
  const parent = document.getElementById("sets");
  view.system.outputs.forEach((v, o) => {
    const out = e.outputs[o];
    const crisp = toNumber(out.value);
    const canvas = chartCanvas(parent, "set-" + o);
    const range = fitRange(toNumber(v.range[0]), toNumber(v.range[1]));
    const crispLegend = {label: view.system.defuzzMethod, value: out.value, colour: "#d55e00"};
    if (view.system.isMamdani) {
      const height = Math.max(1, ...out.aggregatedSet.map(toNumber).filter(Number.isFinite));
      drawChart(canvas, {
        title: "output " + v.name + ": aggregated set", xLabel: v.name, yLabel: "degree",
        x: range, y: [0, height * 1.05],
        lines: [{xs: view.system.samplePoints[o], ys: out.aggregatedSet, colour: "#0072b2", fill: true}],
        verticals: [{x: crisp, colour: "#d55e00"}],
        legend: [{label: "aggregated", colour: "#0072b2"}, crispLegend],
      });
    } else {
      const spikes = [];
      e.rules.forEach((rule, r) => {
        if (view.system.rules[r].consequent[o] !== 0) {
          spikes.push({x: toNumber(rule.outputLevels[o]), y: toNumber(rule.firingStrength), colour: "#0072b2"});
        }
      });
      const xs = spikes.map(s => s.x).filter(Number.isFinite).concat(range);
      // As plot scales it: up to the strongest rule, and spikes at the edges clear of the frame.
      const highest = Math.max(0, ...spikes.map(s => s.y).filter(Number.isFinite));
      drawChart(canvas, {
        title: "output " + v.name + ": rule levels", xLabel: v.name, yLabel: "strength",
        x: padRange(fitRange(Math.min(...xs), Math.max(...xs))), y: [0, highest > 0 ? highest * 1.1 : 1.05],
        spikes, verticals: [{x: crisp, colour: "#d55e00"}],
        legend: [{label: "rule level", colour: "#0072b2"}, crispLegend],
      });
    }
  });
}

// ---- The surface: an output over two inputs, the others as set above.

function buildSurfaceControls() {
  const [sx, sy, so] = ["surface-x", "surface-y", "surface-output"].map(id => document.getElementById(id));
  view.system.inputs.forEach(v => { sx.add(new Option(v.name, v.name)); sy.add(new Option(v.name, v.name)); });
  view.system.outputs.forEach(v => so.add(new Option(v.name, v.name)));
  if (view.system.inputs.length > 1) sy.selectedIndex = 1;
  for (const s of [sx, sy, so]) s.addEventListener("change", () => scheduleSurface());
  if (view.system.inputs.length < 2) document.getElementById("surface-section").hidden = true;
}

function scheduleSurface() {
  clearTimeout(view.surfaceTimer);
  view.surfaceTimer = setTimeout(drawSurface, 150);
}

function heatColour(t) {
  const stops = [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]];
  t = Math.min(Math.max(t, 0), 1) * 4;
  const k = Math.min(Math.floor(t), 3), f = t - k;
  return stops[k].map((c, j) => Math.round(c + f * (stops[k + 1][j] - c)));
}

async function drawSurface() {
  if (view.system.inputs.length < 2) return;
  const x = document.getElementById("surface-x").value, y = document.getElementById("surface-y").value;
  const output = document.getElementById("surface-output").value;
  const canvas = document.getElementById("surface-canvas");
  const status = document.getElementById("surface-status");
  if (x === y) { status.textContent = "choose two different inputs"; return; }
  const key = [x, y, output, currentRowTexts().join(","), ...Object.values(diagnosticParams())].join("|");
  if (key === view.surfaceKey) { canvas.dataset.state = "ready"; return; }
  const texts = currentRowTexts();
  const params = new URLSearchParams({x, y, output, resolution: "61", row: texts.join(","), ...diagnosticParams()});
  canvas.dataset.state = "loading";
  try {
    const s = await getJson("/api/surface?" + params);
    if (canvas.dataset.state !== "loading") return;  // the inputs changed meanwhile
    paintSurface(canvas, s, texts);
    view.surfaceKey = key;
    // The inputs not on the axes, at the values the surface was made with.
    const fixed = view.system.inputs.map((v, i) => v.name === x || v.name === y ? "" : v.name + " = " + texts[i]);
    const others = fixed.filter(Boolean);
    status.textContent = others.length ? "with " + others.join(", ") : "";
    canvas.dataset.pair = x + "|" + y + "|" + output;
    canvas.dataset.state = "ready";
  } catch (err) {
    if (canvas.dataset.state !== "loading") return;
    status.textContent = "surface failed: " + err.message;
    canvas.getContext("2d").clearRect(0, 0, canvas.width, canvas.height);
    view.surfaceKey = "";
    canvas.dataset.state = "failed";
  }
}

function paintSurface(canvas, s, texts) {
  fitWidth(canvas, document.getElementById("surface-section"), 720);
  const values = s.values.map(toNumber);
  const finite = values.filter(Number.isFinite);
  const lo = finite.length ? Math.min(...finite) : 0, hi = finite.length ? Math.max(...finite) : 1;
  const xs = s.xs.map(toNumber), ys = s.ys.map(toNumber), n = s.resolution;
  const chart = {title: s.output + " over " + s.x + " and " + s.y, xLabel: s.x, yLabel: s.y,
                x: fitRange(xs[0], xs[n - 1]), y: fitRange(ys[0], ys[n - 1])};
  const ctx = canvas.getContext("2d");
  // The colour bar takes less room than a legend.
  const frame = chartFrame(canvas, chart, Math.min(170, legendWidth(canvas.width)));
  const {left, right, top, bottom, w, h, px, py} = frame;
  ctx.clearRect(0, 0, w, h);
  // One pixel per grid point, scaled up without smoothing: cells meet with no
  // seams between them, each centred on its point, the half cells at the
  // edges cut off by the frame.
  const image = new ImageData(n, n);
  for (let iy = 0; iy < n; iy++) {
    for (let ix = 0; ix < n; ix++) {
      const v = values[iy * n + ix];
      const [r, g, b] = Number.isFinite(v) ? heatColour(hi > lo ? (v - lo) / (hi - lo) : 0.5) : [200, 200, 200];
      image.data.set([r, g, b, 255], ((n - 1 - iy) * n + ix) * 4);
    }
  }
  const cells = document.createElement("canvas");
  cells.width = cells.height = n;
  cells.getContext("2d").putImageData(image, 0, 0);
  const dx = (xs[n - 1] - xs[0]) / (n - 1), dy = (ys[n - 1] - ys[0]) / (n - 1);
  ctx.save();
  ctx.beginPath();
  ctx.rect(left, top, w - left - right, h - top - bottom);
  ctx.clip();
  ctx.imageSmoothingEnabled = false;
  ctx.drawImage(cells, px(xs[0] - dx / 2), py(ys[n - 1] + dy / 2), px(xs[n - 1] + dx / 2) - px(xs[0] - dx / 2),
                py(ys[0] - dy / 2) - py(ys[n - 1] + dy / 2));
  ctx.restore();
  ctx.font = "11px DejaVu Sans, sans-serif";
  drawFrame(ctx, chart, frame);
  for (let k = 0; k < 100; k++) {
    const [r, g, b] = heatColour((k + 0.5) / 100);
    ctx.fillStyle = "rgb(" + r + "," + g + "," + b + ")";
    ctx.fillRect(w - right + 20, h - bottom - (h - top - bottom) * (k + 1) / 100, 18, (h - top - bottom) / 100 + 1);
  }
  // The current point: where the inputs on the axes are now.
  const at = name => Number(texts[view.system.inputs.findIndex(v => v.name === name)]);
  const [cx, cy] = [at(s.x), at(s.y)];
  if (cx >= chart.x[0] && cx <= chart.x[1] && cy >= chart.y[0] && cy <= chart.y[1]) {
    ctx.lineWidth = 2;
    ctx.strokeStyle = "#fff";
    ctx.beginPath(); ctx.arc(px(cx), py(cy), 6, 0, 2 * Math.PI); ctx.stroke();
    ctx.lineWidth = 1;
    ctx.strokeStyle = "#000";
    ctx.beginPath(); ctx.arc(px(cx), py(cy), 7.5, 0, 2 * Math.PI); ctx.stroke();
  }
  // The colour bar: its ends and the round values between them.
  ctx.fillStyle = "#222";
  ctx.strokeStyle = "#222";
  ctx.textAlign = "left";
  ctx.textBaseline = "middle";
  const barX = w - right + 38, barY = v => h - bottom - (hi > lo ? (v - lo) / (hi - lo) : 0.5) * (h - top - bottom);
  ctx.fillText(shortText(hi), barX + 6, top + 4);
  ctx.fillText(shortText(lo), barX + 6, h - bottom - 4);
  if (hi > lo) {
    for (const t of niceTicks(lo, hi)) {
      const y = barY(t);
      ctx.beginPath(); ctx.moveTo(barX, y); ctx.lineTo(barX + 4, y); ctx.stroke();
      if (y > top + 16 && y < h - bottom - 16) ctx.fillText(tickText(t), barX + 6, y);
    }
  }
  canvas.title = s.output + " from " + numberText(lo) + " to " + numberText(hi);
  ctx.fillText(s.output, w - right + 20, top - 12);
}

// ---- Start.

getJson("/api/system").then(s => {
  view.system = s;
  document.getElementById("title").textContent = "fazolt view: " + (s.name || "system");
  document.getElementById("summary").textContent = s.type + " system, " + counted(s.inputs.length, "input") + ", " +
    counted(s.outputs.length, "output") + ", " + counted(s.rules.length, "rule") + ", " + s.defuzzMethod;
  buildInputs();
  buildDiagnostics();
  buildOutputsAndRules();
  buildSurfaceControls();
  requestEvaluation();
}).catch(err => showError("Cannot load the system: " + err.message));
