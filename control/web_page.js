// Quorvane control page. Every control is built from the parameter table
// (/api/params) and shows /api/state; the meters, loudness and alarms come
// from /api/meters (a fetch() stream, since EventSource cannot send the
// token); Load and Save ask before they replace anything.
"use strict";

const $ = (id) => document.getElementById(id);
// The processor shown, of those the host registered (/api/instances); null
// until there are several to choose from.
let instanceId = new URLSearchParams(location.search).get("instance");
let token = sessionStorage.getItem("quorvane-token") || "";
let params = null;  // /api/params
let state = null;  // the last /api/state
let scales = null;  // bar maxima, sent first on every meter stream
const controls = {};  // name -> {kind, param, update(value)} for the controls on the page
const selection = { multiband: { band: 0, section: 0 }, "dual band": { band: 5, section: 0 } };
let storedProcesses = [];
let pickedProcess = null;  // a number the operator chose in the list, until Load or a change on air

function status(text, error) {
  $("status").textContent = text;
  $("status").className = error ? "error" : "";
}

function linkState(kind, text) {
  $("link").textContent = text;
  $("link").className = kind;
}

function askToken() {
  linkState("token", "waiting for the token");
  $("token-form").classList.add("shown");
  if (document.activeElement !== $("token")) $("token").focus();
}

class ApiError extends Error {}
class TokenWanted extends ApiError {}

function withInstance(path) {
  if (!instanceId) return path;
  return `${path}${path.includes("?") ? "&" : "?"}instance=${encodeURIComponent(instanceId)}`;
}

async function api(method, path, body) {
  const headers = {};
  if (token) headers.Authorization = `Bearer ${token}`;
  const init = { method, headers, cache: "no-store" };
  if (body !== undefined) {
    headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body);
  }
  const res = await fetch(withInstance(path), init);
  if (res.status === 401) {
    askToken();
    throw new TokenWanted("this processor wants its control token");
  }
  const data = await res.json().catch(() => ({}));
  if (!res.ok) throw new ApiError(data.error || `${res.status} ${res.statusText}`);
  return data;
}

// --- values as the panel shows them (settings/value_format) ---

function tenths(sign, v) {
  const m = Math.abs(v);
  return `${sign}${Math.trunc(m / 10)}.${m % 10}`;
}

const FORMATS = {
  plain: (v) => `${v}`,
  minus_unless_0: (v) => `${v !== 0 ? "-" : ""}${v}`,
  signed_tenths: (v) => tenths(v < 0 ? "-" : "+", v),
  level_tenths: (v) => tenths(v >= 0 ? "-" : "+", v),
  tenths: (v) => tenths("", v),
  minus_tenths: (v) => tenths(v >= 0 ? "" : "-", v),
};

function shown(p, v) {
  const unit = p.panel_unit;
  return FORMATS[p.format](v) + (unit === "" || unit[0] === ":" ? "" : " ") + unit;
}

function capital(text) {
  return text.charAt(0).toUpperCase() + text.slice(1);
}

// A switch says what it switches; its state is shown beside the caption,
// so the panel's "ON" in a caption goes.
function switchCaption(p) {
  const text = p.label.replace(/\(([^)]*)\)/, "$1").replace(/\bON\b/, "").trim();
  return text || capital(p.stage);
}

// --- controls ---

async function sendControls(body) {
  try {
    showState(await api("POST", "/api/controls", body));
    status("");
  } catch (e) {
    status(e.message, true);
    refreshState().catch(() => {});
  }
}

function makeSwitch(p) {
  const b = document.createElement("button");
  b.className = "switch writes";
  b.setAttribute("role", "switch");
  b.dataset.control = p.name;
  b.title = `${p.label} (${p.name})${p.no_effect ? ": no effect on the sound" : ""}`;
  const lamp = document.createElement("span");
  lamp.className = "lamp";
  const st = document.createElement("span");
  st.className = "st";
  b.append(lamp, switchCaption(p), st);
  if (p.no_effect) b.classList.add("inert");
  b.addEventListener("click", () => sendControls({ [p.name]: b.getAttribute("aria-checked") === "true" ? 0 : 1 }));
  controls[p.name] = {
    param: p,
    update(v) {
      b.setAttribute("aria-checked", v ? "true" : "false");
      st.textContent = v ? "on" : "off";
    },
  };
  return b;
}

// A word the panel shows as two radio buttons (50uS / 75uS).
function makePair(p) {
  const group = document.createElement("span");
  group.className = "pair";
  group.setAttribute("role", "radiogroup");
  group.setAttribute("aria-label", `${p.label} / ${p.off_label}`);
  if (p.no_effect) group.classList.add("inert");
  const buttons = [[1, p.label], [0, p.off_label]].map(([value, label]) => {
    const b = document.createElement("button");
    b.className = "writes";
    b.setAttribute("role", "radio");
    b.dataset.control = p.name;
    b.dataset.value = value;
    b.textContent = label;
    b.title = `${p.name} = ${value}${p.no_effect ? ": no effect on the sound" : ""}`;
    b.addEventListener("click", () => sendControls({ [p.name]: value }));
    group.append(b);
    return b;
  });
  controls[p.name] = {
    param: p,
    update(v) {
      for (const b of buttons) b.setAttribute("aria-checked", Number(b.dataset.value) === v ? "true" : "false");
    },
  };
  return group;
}

function makeSlider(p) {
  const wrap = document.createElement("div");
  wrap.className = "slider";
  if (p.no_effect) wrap.classList.add("inert");
  const id = `c-${p.name.replace(/\./g, "-")}`;
  const head = document.createElement("label");
  head.htmlFor = id;
  const title = document.createElement("span");
  title.textContent = p.label;
  if (p.no_effect) {
    const tag = document.createElement("span");
    tag.className = "tag";
    tag.textContent = " no effect";
    title.append(tag);
  }
  const value = document.createElement("output");
  head.append(title, value);
  const input = document.createElement("input");
  input.type = "range";
  input.id = id;
  input.className = "writes";
  input.min = p.min;
  input.max = p.max;
  input.step = 1;
  input.dataset.control = p.name;
  input.title = `${p.name}: ${p.shown_min || p.min}..${p.shown_max || p.max}`;
  wrap.append(head, input);
  const sl = { param: p, input, value, busy: false, pending: null, stored: null, moved: 0 };
  sl.update = (v) => {
    sl.stored = v;
    // A slider in the operator's hand keeps what the hand says; once let go
    // for a moment it shows what is on air again.
    if (sl.busy || sl.pending !== null || Date.now() - sl.moved < 1500) return;
    input.value = v;
    showSliderValue(sl, v);
  };
  input.addEventListener("input", () => slide(sl));
  controls[p.name] = sl;
  return wrap;
}

// A stored value outside the panel's range is shown as it is and marked;
// the slider stands at its end and changes nothing until moved.
function showSliderValue(sl, v) {
  const p = sl.param;
  const outside = v < p.min || v > p.max;
  sl.value.textContent = shown(p, v) + (outside ? " (outside the panel's range)" : "");
  sl.value.classList.toggle("outside", outside);
  sl.input.setAttribute("aria-valuetext", sl.value.textContent);
}

// At most one request per slider in flight; the newest value follows it.
async function slide(sl) {
  sl.moved = Date.now();
  sl.pending = Number(sl.input.value);
  showSliderValue(sl, sl.pending);
  if (sl.busy) return;
  sl.busy = true;
  while (sl.pending !== null) {
    const v = sl.pending;
    sl.pending = null;
    await sendControls({ [sl.param.name]: v });
  }
  sl.busy = false;
}

function controlFor(p) {
  if (p.kind === "switch") return makeSwitch(p);
  if (p.kind === "pair") return makePair(p);
  return makeSlider(p);
}

// The band and section selectors of the multiband and dual-band stages, and
// the words of the band and section they select.
function makeSelector(label, options, current, choose) {
  const row = document.createElement("span");
  row.className = "selector";
  row.setAttribute("role", "radiogroup");
  row.setAttribute("aria-label", label);
  for (const [value, text] of options) {
    const b = document.createElement("button");
    b.setAttribute("role", "radio");
    b.dataset.select = `${label}:${value}`;
    b.textContent = text;
    b.setAttribute("aria-checked", value === current ? "true" : "false");
    b.addEventListener("click", () => {
      for (const other of row.children) other.setAttribute("aria-checked", other === b ? "true" : "false");
      choose(value);
    });
    row.append(b);
  }
  return row;
}

function buildSections(stage, box) {
  const sel = selection[stage];
  const bands = params.bands.filter((b) => b.stage === stage);
  const sliders = document.createElement("div");
  sliders.className = "controls";
  const show = () => {
    for (const old of sliders.querySelectorAll("[data-control]")) delete controls[old.dataset.control];
    sliders.replaceChildren(...params.params
      .filter((p) => p.band === sel.band && p.section === sel.section)
      .map(controlFor));
    if (state) showState(state);
  };
  const row = document.createElement("div");
  row.className = "selrow";
  row.append(
    "Band ", makeSelector(`${stage} band`, bands.map((b) => [b.band, b.label]), sel.band, (v) => { sel.band = v; show(); }),
    " Section ", makeSelector(`${stage} section`, params.sections.map((s, k) => [k, capital(s)]), sel.section,
      (v) => { sel.section = v; show(); }));
  box.append(row, sliders);
  show();
}

function buildStage(stage) {
  const set = document.createElement("fieldset");
  set.dataset.stage = stage;
  const legend = document.createElement("legend");
  legend.textContent = capital(stage);
  const switches = document.createElement("div");
  switches.className = "switches";
  const sliders = document.createElement("div");
  sliders.className = "controls";
  set.append(legend, switches, sliders);
  for (const p of params.params) {
    if (p.stage !== stage || p.band !== undefined || p.kind === "bits") continue;
    (p.kind === "slider" ? sliders : switches).append(controlFor(p));
  }
  if (stage === "output") {
    switches.append(makeSwitch({ name: "test_tone", label: "Test Tone", stage, no_effect: false }));
  }
  if (selection[stage]) buildSections(stage, set);
  return set;
}

function buildControls() {
  $("stages").replaceChildren(...params.stages.map(buildStage));
}

// --- state ---

function showOnAir(s) {
  $("instance").textContent = s.instance && instanceId ? s.instance : "";
  $("process-name").textContent = s.process.name || "\u00a0";
  $("process-number").textContent = s.process.number === null ? "file" : String(s.process.number);
  $("modified").hidden = !s.process.modified;
  const f = s.format;
  $("format").textContent =
    `${f.channels === 1 ? "mono" : "stereo"} ${f.input_rate} Hz in, ${f.rate} Hz ${f.bits}-bit out, ` +
    `latency ${s.latency.ms.toFixed(1)} ms`;
  $("ceiling-info").hidden = !s.ceiling.on;
  $("ceiling-meter").hidden = !s.ceiling.on;
  if (s.ceiling.on) $("ceiling-info").textContent = `true-peak ceiling ${s.ceiling.dbtp.toFixed(1)} dBTP`;
  const readOnly = s.access === "read";
  $("access").hidden = !readOnly;
  for (const el of document.querySelectorAll(".writes")) el.disabled = readOnly;
  showHostPorts(s.host_ports);
}

// A plug-in's host owns the process, bypass and test tone ports: shown, not set here.
function showHostPorts(h) {
  $("host-info").hidden = !h;
  if (!h) return;
  $("host-info").textContent = `host: process ${h.process < 0 ? "none" : h.process}, bypass ${h.bypass ? "on" : "off"}`;
  const owned = ["#load", "#processes", '[data-control="bypass_all"]', '[data-control="test_tone"]'];
  for (const el of document.querySelectorAll(owned.join(", "))) el.disabled = true;
}

// --- instances ---

// The processors of the host; the list shows when there are several. A page
// opened without ?instance among several takes the first.
async function refreshInstances() {
  const list = (await api("GET", "/api/instances")).instances;
  const select = $("instances");
  select.hidden = list.length < 2;
  const options = list.map((i) => {
    const o = document.createElement("option");
    o.value = i.id;
    o.textContent = i.label;
    return o;
  });
  select.replaceChildren(...options);
  // Taken before the state is read: nothing to reconnect.
  if (list.length > 1 && !list.some((i) => i.id === instanceId)) chooseInstance(list[0].id, false);
  if (instanceId) select.value = instanceId;
}

function chooseInstance(id, reconnect = true) {
  instanceId = id;
  const url = new URL(location.href);
  url.searchParams.set("instance", id);
  window.history.replaceState(null, "", url);
  pickedProcess = null;
  if (reconnect && meterAbort) meterAbort.abort();
}

function showAlarms(s) {
  const d = s.alarms && s.alarms.dead_air;
  if (!d) return;
  for (const [id, v] of [["dead-air-below", d.below_dbfs], ["dead-air-after", d.after_s]])
    if (document.activeElement !== $(id) && !$(id).dataset.edited) $(id).value = v;
}

function showState(s) {
  const changedOnAir = !state || state.process.number !== s.process.number;
  state = s;
  showOnAir(s);
  showAlarms(s);
  for (const [name, c] of Object.entries(controls)) if (name in s.controls) c.update(s.controls[name]);
  if (changedOnAir) {
    pickedProcess = null;
    proposeSave(true);
  }
  showProcessList();
}

async function refreshState() {
  showState(await api("GET", "/api/state"));
}

// --- processes ---

function processLabel(number, name) {
  return `${number} \u201c${name}\u201d`;
}

// The list selects the process on air unless the operator picked another;
// it is rebuilt only when the list or the process on air changed.
let shownList = "";
function showProcessList() {
  const select = $("processes");
  const onAir = state ? state.process.number : null;
  const wanted = pickedProcess !== null ? pickedProcess : onAir;
  const key = JSON.stringify([storedProcesses, onAir, wanted]);
  if (key === shownList) return;
  shownList = key;
  select.replaceChildren(...storedProcesses.map((p) => {
    const o = document.createElement("option");
    o.value = p.number;
    o.textContent = `${p.number}: ${p.name}${p.number === onAir ? " (on air)" : ""}`;
    return o;
  }));
  if (wanted !== null && storedProcesses.some((p) => p.number === wanted)) select.value = String(wanted);
  else select.selectedIndex = -1;
}

async function refreshProcesses() {
  storedProcesses = (await api("GET", "/api/processes")).processes;
  showProcessList();
}

// Save proposes the number and name on air (or the first free number).
function proposeSave(force) {
  if (!state) return;
  for (const id of ["save-number", "save-name"]) if (!force && $(id).dataset.edited) return;
  let n = state.process.number;
  if (n === null) {
    n = 1;
    while (storedProcesses.some((p) => p.number === n) && n < 100) ++n;
  }
  $("save-number").value = n;
  $("save-name").value = state.process.name;
  delete $("save-number").dataset.edited;
  delete $("save-name").dataset.edited;
}

// Resolves true when the operator confirms.
function confirmAction(text, okLabel) {
  const dialog = $("confirm");
  $("confirm-text").textContent = text;
  $("confirm-ok").textContent = okLabel;
  return new Promise((resolve) => {
    const done = (answer) => {
      dialog.close();
      $("confirm-ok").onclick = $("confirm-cancel").onclick = dialog.oncancel = null;
      resolve(answer);
    };
    $("confirm-ok").onclick = () => done(true);
    $("confirm-cancel").onclick = () => done(false);
    dialog.oncancel = () => done(false);
    dialog.showModal();
    $("confirm-cancel").focus();
  });
}

async function loadProcess() {
  if ($("processes").value === "") return;
  const n = Number($("processes").value);
  const target = storedProcesses.find((p) => p.number === n);
  await refreshState().catch(() => {});
  if (state && state.process.modified) {
    const onAir = state.process.number === null ? `\u201c${state.process.name}\u201d` :
      processLabel(state.process.number, state.process.name);
    const ok = await confirmAction(
      `The process on air, ${onAir}, has changes that are not saved. ` +
      `Load ${processLabel(n, target ? target.name : "")} and lose them?`, `Load ${n} and lose the changes`);
    if (!ok) return status("nothing loaded");
  }
  try {
    showState(await api("POST", "/api/process", { number: n }));
    pickedProcess = null;
    proposeSave(true);
    status(`process ${n} is on air`);
  } catch (e) {
    status(e.message, true);
  }
}

async function saveProcess() {
  const n = Number($("save-number").value);
  if (!Number.isInteger(n) || n < 0 || n > 100 || $("save-number").value === "")
    return status("the number is 0..100", true);
  const body = { number: n, name: $("save-name").value };
  await refreshProcesses().catch(() => {});
  const existing = storedProcesses.find((p) => p.number === n);
  if (existing) {
    const ok = await confirmAction(
      `Process ${processLabel(n, existing.name)} is stored. Replace it with what is on air` +
      `${body.name ? ` as \u201c${body.name}\u201d` : ""}?`, `Replace process ${n}`);
    if (!ok) return status("nothing saved");
    body.overwrite = true;
  }
  try {
    showState(await api("POST", "/api/save", body));
    status(`saved as process ${n}`);
    proposeSave(true);
    await refreshProcesses();
  } catch (e) {
    status(e.message, true);
  }
}

// --- meters ---

const LEVEL_FLOOR_DB = -60;
const GR_FULL_DB = 24;
const CLIP_FULL_DB = 6;

function db(v, full) {
  return v > 0 ? 20 * Math.log10(v / full) : -Infinity;
}

function fmt(v, decimals = 1) {
  if (v === null || v === undefined || !Number.isFinite(v)) return "\u2013";
  return v.toFixed(decimals).replace(/^-(0\.0*)$/, "$1");
}

function marks(el, list) {
  for (const [text, frac] of list) {
    const s = document.createElement("span");
    s.textContent = text;
    s.style.bottom = `${frac * 100}%`;
    el.append(s);
  }
}

function buildMeters() {
  const bands = $("bands");
  for (let k = 5; k >= 1; --k) {
    const row = document.createElement("div");
    row.className = "hbar";
    row.innerHTML = `<span class="label">Band ${k}</span><div class="well"><div class="fill gr" data-meter="band${k - 1}">` +
      `</div></div><span class="num" data-num="band${k - 1}"></span>`;
    bands.append(row);
  }
  marks($("level-scale"), [0, -6, -12, -18, -24, -36, -48, -60].map((d) => [`${d}`, 1 - d / LEVEL_FLOOR_DB]));
  marks($("agc-scale"), [25, 20, 15, 10, 5, 0].map((d) => [`+${d}`, d / 25]));
  marks($("clip-scale"), [6, 3, 0].map((d) => [`+${d}`, d / CLIP_FULL_DB]));
}

const els = {};
function el(kind, name) {
  const key = `${kind}:${name}`;
  return els[key] || (els[key] = document.querySelector(`[data-${kind}="${name}"]`));
}

// A bar filled to frac of its well, with its number.
function setBar(name, frac, text) {
  const f = el("meter", name);
  const pct = `calc(${Math.max(0, Math.min(1, frac)) * 100}% - 2px)`;
  if (f.parentElement.parentElement.classList.contains("hbar")) f.style.width = pct;
  else f.style.height = pct;
  const n = el("num", name);
  if (n) n.textContent = text;
}

function level(name, v, full) {
  const d = db(v, full);
  setBar(name, (d - LEVEL_FLOOR_DB) / -LEVEL_FLOOR_DB, d < -90 ? "-\u221e" : fmt(d));
}

function reduction(name, d, full) {
  setBar(name, d / full, fmt(d === 0 ? 0 : -d));
}

let framesSeen = 0;
function showMeters(m) {
  if (!scales) return;
  level("in", m.in, scales.level);
  level("out", m.out, scales.level);
  for (const [name, v] of [["agc_bass", m.agc_bass_gain_db], ["agc_master", m.agc_master_gain_db]])
    setBar(name, (v || 0) / scales.agc_db, fmt(v));
  $("gate").textContent = m.gated ? "Gate: closed (the AGC holds its gain)" : "Gate: open";
  $("gate").className = m.gated ? "closed" : "";
  m.bands.forEach((v, k) => reduction(`band${k}`, m.bypass ? 0 : Math.min(60, -db(v, scales.band)), GR_FULL_DB));
  const clip = (v) => 20 * Math.log10(1 + v / scales.level);
  setBar("clip_depth", clip(m.clip_depth) / CLIP_FULL_DB, fmt(clip(m.clip_depth)));
  setBar("bass_clip", clip(m.bass_clip) / CLIP_FULL_DB, fmt(clip(m.bass_clip)));
  level("image", m.image, scales.image);
  reduction("activity", m.activity > 0 ? Math.max(0, -db(m.activity, scales.activity)) : 0, GR_FULL_DB);
  if (m.ceiling_reduction_db !== null) reduction("ceiling", m.ceiling_reduction_db, 6);
  showLoudness(m);
  followChanges(m);
  document.body.dataset.frames = String(++framesSeen);
}

function showLoudness(m) {
  if (m.loudness) {
    for (const k of ["momentary", "short_term", "integrated", "true_peak"]) el("loud", k).textContent = fmt(m.loudness[k]);
    $("loudness-since").textContent = `measured ${Math.round(m.loudness.since_s)} s since the reset`;
  }
  const d = m.dead_air;
  if (d && state && state.alarms) {
    const rule = state.alarms.dead_air;
    $("alarm").hidden = !d.active;
    $("alarm").textContent = `DEAD AIR: the input has stayed below ${rule.below_dbfs} dBFS for ${Math.round(d.quiet_s)} s`;
    $("dead-air-state").textContent = d.active ? "alarm on" :
      d.quiet_s > 0 ? `input quiet for ${Math.round(d.quiet_s)} s` : "input present";
  }
  if (m.point) addPoint(m.point);
}

// --- loudness history: one point a second, ten minutes ---

const HISTORY = 600;
let history = { seq: 0, short_term_lufs: [], gain_reduction_db: [] };

async function fetchHistory() {
  const l = await api("GET", "/api/loudness");
  history = l.history;
  drawHistory();
}

function addPoint(p) {
  if (p.seq !== history.seq + 1) {
    fetchHistory().catch(() => {});
    return;
  }
  history.seq = p.seq;
  history.short_term_lufs.push(p.short_term_lufs);
  history.gain_reduction_db.push(p.gain_reduction_db);
  for (const list of [history.short_term_lufs, history.gain_reduction_db])
    if (list.length > HISTORY) list.splice(0, list.length - HISTORY);
  drawHistory();
}

function drawHistory() {
  const c = $("history");
  const w = c.clientWidth || 600, h = 130;
  if (c.width !== w) c.width = w;
  const g = c.getContext("2d");
  g.clearRect(0, 0, w, h);
  g.font = "10px sans-serif";
  const x = (k, n) => w - 30 - ((n - 1 - k) * (w - 60)) / (HISTORY - 1);
  const lufsY = (v) => 4 + ((-Math.max(-40, Math.min(0, v))) / 40) * (h - 8);
  g.strokeStyle = "#ddd";
  g.fillStyle = "#555";
  for (const v of [0, -10, -20, -30, -40]) {
    g.beginPath();
    g.moveTo(30, lufsY(v));
    g.lineTo(w - 30, lufsY(v));
    g.stroke();
    g.fillText(`${v}`, 4, lufsY(v) + 3);
    g.fillText(`${-v * 0.6}`, w - 26, lufsY(v) + 3);
  }
  const gr = history.gain_reduction_db, st = history.short_term_lufs;
  g.fillStyle = "rgba(217,130,43,0.45)";
  gr.forEach((v, k) => {
    const bh = (Math.min(24, v || 0) / 24) * (h - 8);
    g.fillRect(x(k, gr.length) - 1, 4, Math.max(1, (w - 60) / HISTORY + 0.5), bh);
  });
  g.strokeStyle = "#0a50c8";
  g.lineWidth = 1.5;
  g.beginPath();
  let pen = false;
  st.forEach((v, k) => {
    if (v === null) return void (pen = false);
    if (pen) g.lineTo(x(k, st.length), lufsY(v));
    else g.moveTo(x(k, st.length), lufsY(v));
    pen = true;
  });
  g.stroke();
  g.lineWidth = 1;
}

// --- the meter stream ---

// Reads server-sent events from a fetch() body; returns when the stream ends.
async function readMeters(signal) {
  const headers = token ? { Authorization: `Bearer ${token}` } : {};
  const res = await fetch(withInstance("/api/meters"), { headers, signal, cache: "no-store" });
  if (res.status === 401) {
    askToken();
    throw new TokenWanted("token required");
  }
  if (!res.ok) throw new ApiError(`meters: ${res.status}`);
  linkState("live", "live");
  const reader = res.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffer = "";
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    buffer += value;
    let end;
    while ((end = buffer.indexOf("\n\n")) >= 0) {
      const block = buffer.slice(0, end);
      buffer = buffer.slice(end + 2);
      let event = "message", data = "";
      for (const line of block.split("\n")) {
        if (line.startsWith("event:")) event = line.slice(6).trim();
        else if (line.startsWith("data:")) data += line.slice(5).trim();
      }
      lastData = Date.now();
      if (!data) continue;
      const obj = JSON.parse(data);
      if (event === "scales") scales = obj;
      else showMeters(obj);
    }
  }
}

let lastData = 0;
let meterAbort = null;

// Keeps one meter stream open; after a restart of the stream (or of the
// processor) it reconnects and reloads the state.
async function meterLoop() {
  for (;;) {
    meterAbort = new AbortController();
    lastData = Date.now();
    let tokenWanted = false;
    try {
      if (!params) {
        params = await api("GET", "/api/params");
        buildControls();
      }
      await refreshInstances();
      await Promise.all([refreshState(), refreshProcesses(), fetchHistory()]);
      proposeSave(false);
      await readMeters(meterAbort.signal);
    } catch (e) {
      tokenWanted = e instanceof TokenWanted;
      if (e instanceof ApiError && !tokenWanted) status(e.message, true);
    }
    if (!tokenWanted) linkState("down", "reconnecting");
    await new Promise((r) => setTimeout(r, 1000));
  }
}

// A stream that says nothing for 3 s (the server sends at least a comment
// each second) is dead: drop it so the loop reconnects.
setInterval(() => {
  if (meterAbort && Date.now() - lastData > 3000) meterAbort.abort();
}, 1000);
// Changes made from another browser show with the next meter frame (their
// count rides on it); those made otherwise (a reload by SIGHUP) within 10 s.
let changesSeen = null;
function followChanges(m) {
  if (m.changes === changesSeen) return;
  if (changesSeen !== null) refreshState().catch(() => {});
  changesSeen = m.changes;
}
setInterval(() => {
  if (!document.hidden && params) refreshState().catch(() => {});
}, 10000);

// --- buttons and fields ---

$("load").addEventListener("click", loadProcess);
$("instances").addEventListener("change", () => chooseInstance($("instances").value));
setInterval(() => {
  if (!document.hidden && params) refreshInstances().catch(() => {});
}, 5000);
$("save").addEventListener("click", saveProcess);
$("processes").addEventListener("change", () => {
  pickedProcess = Number($("processes").value);
});
$("refresh").addEventListener("click", () => refreshProcesses().catch((e) => status(e.message, true)));
for (const id of ["save-number", "save-name", "dead-air-below", "dead-air-after"])
  $(id).addEventListener("input", () => { $(id).dataset.edited = "1"; });

$("loudness-reset").addEventListener("click", async () => {
  try {
    await api("POST", "/api/loudness/reset", {});
    status("integrated loudness and true peak start again");
    setTimeout(() => fetchHistory().catch(() => {}), 300);
  } catch (e) {
    status(e.message, true);
  }
});

$("dead-air-set").addEventListener("click", async () => {
  const body = { below_dbfs: Number($("dead-air-below").value), after_s: Number($("dead-air-after").value) };
  try {
    delete $("dead-air-below").dataset.edited;
    delete $("dead-air-after").dataset.edited;
    showState(await api("POST", "/api/alarms", body));
    status(`dead air: below ${body.below_dbfs} dBFS for ${body.after_s} s`);
  } catch (e) {
    status(e.message, true);
  }
});

$("token-form").addEventListener("submit", (ev) => {
  ev.preventDefault();
  token = $("token").value.trim();
  sessionStorage.setItem("quorvane-token", token);
  $("token-form").classList.remove("shown");
  linkState("", "connecting");
  status("");
  if (meterAbort) meterAbort.abort();
});

buildMeters();
meterLoop();
