// Quorvane control page: meters from /api/meters (a fetch() stream, since
// EventSource cannot send the token), the main controls, Load and Save.
"use strict";

// The main controls, by their names in the parameter table.
const SWITCHES = [
  ["bypass_all", "Bypass All"], ["test_tone", "Test Tone"], ["agc_on", "AGC"], ["preemphasis_on", "Preemphasis ON"],
];
const SLIDERS = [
  ["gate_threshold_db", "Gate", (v) => `-${v} dB`],
  ["agc_max_gain_db", "AGC max gain", (v) => `+${v} dB`],
  ["overdrive_db", "Overdrive", (v) => `${v} dB`],
  ["multiband_pct", "Multiband", (v) => `${v} %`],
  ["clip_drive", "Clip drive", (v) => `${v} %`],
  ["stereo_level_pct", "Stereo level", (v) => `${v} %`],
  ["output_level_pct", "Output level", (v) => `${v} %`],
];

const $ = (id) => document.getElementById(id);
let token = sessionStorage.getItem("quorvane-token") || "";
let scales = null;  // bar maxima, sent first on every meter stream
const sliders = {};  // name -> {input, value, format, busy, pending}
const switches = {};  // name -> button

function status(text, error) {
  $("status").textContent = text;
  $("status").className = error ? "error" : "";
}

function askToken() {
  $("token-form").classList.add("shown");
  $("token").focus();
}

class ApiError extends Error {}

async function api(method, path, body) {
  const headers = {};
  if (token) headers.Authorization = `Bearer ${token}`;
  const init = { method, headers, cache: "no-store" };
  if (body !== undefined) {
    headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body);
  }
  const res = await fetch(path, init);
  if (res.status === 401) {
    askToken();
    throw new ApiError("this processor wants its control token");
  }
  const data = await res.json().catch(() => ({}));
  if (!res.ok) throw new ApiError(data.error || `${res.status} ${res.statusText}`);
  return data;
}

// --- state ---

function showState(s) {
  $("process-name").textContent = s.process.name || "\u00a0";
  $("process-number").textContent = s.process.number === null ? "file" : String(s.process.number);
  $("modified").classList.toggle("on", s.process.modified);
  const f = s.format;
  $("format").textContent =
    `${f.channels === 1 ? "mono" : "stereo"} ${f.input_rate} Hz in, ${f.rate} Hz ${f.bits}-bit out, ` +
    `latency ${s.latency.ms.toFixed(1)} ms`;
  for (const [name, button] of Object.entries(switches)) button.setAttribute("aria-pressed", s.controls[name] ? "true" : "false");
  for (const [name, sl] of Object.entries(sliders)) {
    const r = s.ranges[name];
    sl.input.min = r.min;
    sl.input.max = r.max;
    // A slider in the operator's hand keeps what the hand says.
    if (!sl.busy && sl.pending === null && document.activeElement !== sl.input) sl.input.value = s.controls[name];
    sl.value.textContent = sl.format(Number(sl.input.value));
  }
}

async function refreshState() {
  showState(await api("GET", "/api/state"));
}

async function refreshProcesses() {
  const { processes } = await api("GET", "/api/processes");
  const select = $("processes");
  const keep = select.value;
  select.replaceChildren(...processes.map((p) => {
    const o = document.createElement("option");
    o.value = p.number;
    o.textContent = `${p.number}: ${p.name}`;
    return o;
  }));
  if (keep !== "") select.value = keep;
}

// --- controls ---

async function sendControl(name, value) {
  try {
    showState(await api("POST", "/api/controls", { [name]: value }));
    status("");
  } catch (e) {
    status(e.message, true);
    refreshState().catch(() => {});
  }
}

// At most one request per slider in flight; the newest value follows it.
async function slide(sl, name) {
  sl.pending = Number(sl.input.value);
  sl.value.textContent = sl.format(sl.pending);
  if (sl.busy) return;
  sl.busy = true;
  while (sl.pending !== null) {
    const v = sl.pending;
    sl.pending = null;
    await sendControl(name, v);
  }
  sl.busy = false;
}

function buildControls() {
  for (const [name, label] of SWITCHES) {
    const b = document.createElement("button");
    b.className = "switch";
    b.textContent = label;
    b.dataset.control = name;
    b.setAttribute("aria-pressed", "false");
    b.addEventListener("click", () => sendControl(name, b.getAttribute("aria-pressed") === "true" ? 0 : 1));
    switches[name] = b;
    $("switches").append(b);
  }
  for (const [name, label, format] of SLIDERS) {
    const wrap = document.createElement("div");
    wrap.className = "slider";
    const head = document.createElement("label");
    const title = document.createElement("span");
    title.textContent = label;
    const value = document.createElement("span");
    head.append(title, value);
    const input = document.createElement("input");
    input.type = "range";
    input.dataset.control = name;
    input.setAttribute("aria-label", label);
    wrap.append(head, input);
    const sl = { input, value, format, busy: false, pending: null };
    input.addEventListener("input", () => slide(sl, name));
    sliders[name] = sl;
    $("sliders").append(wrap);
  }
}

// --- meters ---

function buildMeters() {
  const bands = $("bands");
  for (let k = 5; k >= 1; --k) {
    const row = document.createElement("div");
    row.className = "hbar";
    row.innerHTML = `<span class="label">${k}</span><div class="well"><div class="fill" data-meter="band${k - 1}"></div></div>`;
    bands.append(row);
  }
  // The panel's level scale is linear in sample value.
  const marks = (el, list) => {
    for (const [text, frac] of list) {
      const s = document.createElement("span");
      s.textContent = text;
      s.style.bottom = `${frac * 100}%`;
      el.append(s);
    }
  };
  marks($("level-scale"), [["0dB", 1], ["-6dB", 0.5], ["-12dB", 0.25], ["-18dB", 0.125]]);
  marks($("agc-scale"), [["+25dB", 1], ["0dB", 0]]);
}

const fills = {};
function fill(name) {
  return fills[name] || (fills[name] = document.querySelector(`[data-meter="${name}"]`));
}

function setBar(name, pos, max) {
  const el = fill(name);
  const frac = Math.max(0, Math.min(1, pos / max));
  if (el.parentElement.parentElement.classList.contains("hbar")) el.style.width = `calc(${frac * 100}% - 2px)`;
  else el.style.height = `calc(${frac * 100}% - 2px)`;
}

let framesSeen = 0;
function showMeters(m) {
  if (!scales) return;
  setBar("in", m.in, scales.level);
  setBar("out", m.out, scales.level);
  setBar("agc_bass_db", m.agc_bass_db, scales.agc_db);
  setBar("agc_master_db", m.agc_master_db, scales.agc_db);
  m.bands.forEach((v, k) => setBar(`band${k}`, v, scales.band));
  setBar("clip_depth", m.clip_depth, scales.clip);
  setBar("bass_clip", m.bass_clip, scales.clip);
  setBar("image", m.image, scales.image);
  setBar("activity", m.activity, scales.activity);
  $("gated").textContent = m.gated ? "GATED" : "";
  document.body.dataset.frames = String(++framesSeen);
}

function linkState(up, text) {
  $("link").textContent = text;
  $("link").className = up ? "" : "down";
}

// Reads server-sent events from a fetch() body; returns when the stream ends.
async function readMeters(signal) {
  const headers = token ? { Authorization: `Bearer ${token}` } : {};
  const res = await fetch("/api/meters", { headers, signal, cache: "no-store" });
  if (res.status === 401) {
    askToken();
    throw new ApiError("token required");
  }
  if (!res.ok) throw new ApiError(`meters: ${res.status}`);
  linkState(true, "live");
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
      if (!data) continue;
      const obj = JSON.parse(data);
      if (event === "scales") scales = obj;
      else showMeters(obj);
      lastData = Date.now();
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
    try {
      await Promise.all([refreshState(), refreshProcesses()]);
      await readMeters(meterAbort.signal);
    } catch (e) {
      if (e instanceof ApiError) status(e.message, true);
    }
    linkState(false, "reconnecting");
    await new Promise((r) => setTimeout(r, 1000));
  }
}

// A stream that says nothing for 3 s (the server sends at least a comment
// each second) is dead: drop it so the loop reconnects.
setInterval(() => {
  if (meterAbort && Date.now() - lastData > 3000) meterAbort.abort();
}, 1000);
// Changes made from another browser show within two seconds.
setInterval(() => {
  if (!document.hidden) refreshState().catch(() => {});
}, 2000);

// --- processes ---

$("load").addEventListener("click", async () => {
  const n = Number($("processes").value);
  if ($("processes").value === "") return;
  try {
    showState(await api("POST", "/api/process", { number: n }));
    status(`process ${n} is on air`);
  } catch (e) {
    status(e.message, true);
  }
});

$("refresh").addEventListener("click", () => refreshProcesses().catch((e) => status(e.message, true)));

$("save").addEventListener("click", async () => {
  const body = { number: Number($("save-number").value), overwrite: $("overwrite").checked };
  if ($("save-name").value !== "") body.name = $("save-name").value;
  try {
    showState(await api("POST", "/api/save", body));
    status(`saved as process ${body.number}`);
    $("overwrite").checked = false;
    await refreshProcesses();
  } catch (e) {
    status(e.message, true);
  }
});

$("token-form").addEventListener("submit", (ev) => {
  ev.preventDefault();
  token = $("token").value.trim();
  sessionStorage.setItem("quorvane-token", token);
  $("token-form").classList.remove("shown");
  status("");
  if (meterAbort) meterAbort.abort();
});

buildControls();
buildMeters();
meterLoop();
