// The library report as one self-contained HTML page. The report travels as
// JSON inside a script element; the page's script builds the table from it
// with text nodes only, so a name from a file is never parsed as markup. A
// Content-Security-Policy allows only the page's own script (by nonce),
// inline styles and data: images: no request leaves the page, and an event
// handler smuggled into the document would not run.
#include <cstdint>

#include "inspect/library_report.h"

namespace inspect {

namespace {

constexpr const char* kHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src data:; style-src 'unsafe-inline'; script-src 'nonce-@NONCE@'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Varndel library report</title>
<style>
:root { --bg: #fff; --fg: #1d2330; --muted: #667085; --line: #d9dee7; --head: #f3f5f9; --err: #b42318;
        --warn: #9a6700; --ok: #067647; --sel: #e8f0fe; font-family: system-ui, sans-serif; font-size: 14px; }
body { margin: 0; color: var(--fg); background: var(--bg); }
header { padding: 12px 16px; border-bottom: 1px solid var(--line); display: flex; flex-wrap: wrap; gap: 12px 24px;
         align-items: center; }
h1 { font-size: 18px; margin: 0; }
#summary { color: var(--muted); }
#controls { display: flex; gap: 16px; align-items: center; }
#filter { padding: 4px 8px; width: 18em; }
main { display: flex; align-items: flex-start; }
#table-box { flex: 1; overflow: auto; }
table { border-collapse: collapse; width: 100%; }
th, td { border-bottom: 1px solid var(--line); padding: 4px 8px; text-align: right; white-space: nowrap;
         vertical-align: middle; }
th { background: var(--head); position: sticky; top: 0; cursor: pointer; user-select: none; z-index: 1; }
th[aria-sort="ascending"]::after { content: " \25B2"; }
th[aria-sort="descending"]::after { content: " \25BC"; }
td.text, th.text { text-align: left; }
td[data-col="file"] { max-width: 28em; overflow: hidden; text-overflow: ellipsis; }
tbody tr { cursor: pointer; }
tbody tr:hover { background: #f7f9fc; }
tbody tr.selected { background: var(--sel); }
tfoot td { font-weight: 600; background: var(--head); position: sticky; bottom: 0; }
img.thumb { display: block; background: #282c34; image-rendering: auto; }
.placeholder { display: flex; align-items: center; justify-content: center; background: #eef0f4; color: var(--muted);
               font-size: 11px; white-space: normal; text-align: center; }
.bad { color: var(--err); font-weight: 600; }
.warn { color: var(--warn); font-weight: 600; }
.good { color: var(--ok); }
td.read-error { color: var(--err); text-align: left; white-space: normal; }
tr.removed td { color: var(--muted); text-decoration: line-through; }
.added { color: var(--ok); } .changed { color: var(--warn); } .removed-mark { color: var(--err); }
#detail { width: 32%; max-width: 640px; min-width: 320px; border-left: 1px solid var(--line); padding: 12px 16px;
          position: sticky; top: 0; max-height: 100vh; overflow: auto; box-sizing: border-box; }
#detail[hidden] { display: none; }
#detail h2 { font-size: 16px; word-break: break-all; margin: 0 0 8px; }
#detail .frames { display: flex; flex-wrap: wrap; gap: 4px; margin-bottom: 8px; }
#detail .frames img { max-width: 100%; background: #282c34; }
#detail table { width: auto; margin-bottom: 8px; }
#detail td, #detail th { text-align: left; white-space: normal; word-break: break-word; cursor: default;
                         position: static; }
#detail ul { padding-left: 18px; }
#detail li { margin-bottom: 4px; word-break: break-word; }
#detail pre { white-space: pre-wrap; word-break: break-all; font-size: 12px; background: var(--head); padding: 8px; }
#close { float: right; }
</style>
</head>
<body>
<header>
<h1>Varndel library report</h1>
<span id="summary"></span>
<span id="controls">
<label>Filter <input id="filter" type="search" placeholder="name, kind or message" autocomplete="off"></label>
<label><input id="problems" type="checkbox"> problems only</label>
</span>
</header>
<main>
<div id="table-box"><table id="files"><thead></thead><tbody></tbody><tfoot></tfoot></table></div>
<aside id="detail" hidden></aside>
</main>
<script id="report-data" type="application/json">)html";

constexpr const char* kTail = R"html(</script>
<script nonce="@NONCE@">
"use strict";
(function () {
  const report = JSON.parse(document.getElementById("report-data").textContent);
  const thumb = report.thumb || [96, 96];
  const comparing = !!report.compare;

  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (k === "class") node.className = v; else node.setAttribute(k, v);
    }
    for (const child of children) {
      if (child === null || child === undefined) continue;
      node.appendChild(typeof child === "string" ? document.createTextNode(child) : child);
    }
    return node;
  }
  const fmt = new Intl.NumberFormat("en-US");
  function count(n) { return n === null || n === undefined ? "" : fmt.format(n); }
  function bytes(n) {
    if (n === null || n === undefined) return "";
    if (Math.abs(n) < 1024) return n + " B";
    const units = ["KiB", "MiB", "GiB", "TiB"];
    let v = n / 1024, u = 0;
    while (Math.abs(v) >= 1024 && u < units.length - 1) { v /= 1024; ++u; }
    return v.toFixed(1) + " " + units[u];
  }
  function signedBytes(n) { return n > 0 ? "+" + bytes(n) : n < 0 ? "\u2212" + bytes(-n) : "0 B"; }
  function seconds(s) { return s === null || s === undefined ? "" : (+s).toPrecision(4).replace(/\.?0+$/, "") + " s"; }
  function problems(f) { return f.error !== undefined || (f.errors || 0) + (f.warnings || 0) > 0; }
  function textureCounts(f) {
    const c = { found: 0, missing: 0, extracted: 0 };
    for (const t of f.textures || []) c[t.state]++;
    return c;
  }

  // Each column: its header, the value it sorts and sums by, and its cell.
  const s = (f) => f.summary || {};
  const b = (f) => f.bytes || {};
  const columns = [
    { id: "picture", label: "", sortable: false },
    { id: "file", label: "File", text: true, value: (f) => f.key },
    comparing ? { id: "change", label: "Change", text: true, value: (f) => f.change ? f.change.status : "" } : null,
    comparing ? { id: "delta", label: "\u0394 bytes", sum: true, value: (f) => f.change ? f.change.bytesDelta : null,
                  show: signedBytes } : null,
    { id: "kind", label: "Kind", text: true, value: (f) => f.figures ? f.figures.kind : "" },
    { id: "meshes", label: "Meshes", sum: true, value: (f) => s(f).meshes },
    { id: "vertices", label: "Vertices", sum: true, value: (f) => s(f).vertices },
    { id: "triangles", label: "Triangles", sum: true, value: (f) => s(f).triangles },
    { id: "bytes", label: "Bytes", sum: true, value: (f) => b(f).total, show: bytes },
    { id: "vertexBytes", label: "Vertex", sum: true, value: (f) => b(f).vertex, show: bytes },
    { id: "indexBytes", label: "Index", sum: true, value: (f) => b(f).index, show: bytes },
    { id: "animationBytes", label: "Animation", sum: true, value: (f) => b(f).animation, show: bytes },
    { id: "stringBytes", label: "Strings", sum: true, value: (f) => b(f).strings, show: bytes },
    { id: "textures", label: "Textures", value: (f) => f.textures ? textureCounts(f).missing : null },
    { id: "bones", label: "Bones", sum: true, value: (f) => s(f).bones },
    { id: "nodes", label: "Nodes", sum: true, value: (f) => s(f).nodes },
    { id: "keys", label: "Keys", sum: true, value: (f) => s(f).keys },
    { id: "duration", label: "Duration", value: (f) => s(f).seconds, show: seconds },
    { id: "lods", label: "LODs", value: (f) => f.lods ? f.lods.length : (f.lodLevel ? null : null),
      show: (v, f) => f.lodLevel ? "level " + f.lodLevel : f.lods ? String(f.lods.length) : "" },
    { id: "take", label: "Take", text: true, value: (f) => f.take || "" },
    { id: "errors", label: "Errors", sum: true, value: (f) => f.error !== undefined ? 1 : f.errors },
    { id: "warnings", label: "Warnings", sum: true, value: (f) => f.warnings },
  ].filter(Boolean);

  function thumbnail(f) {
    const p = f.picture;
    if (p && p.frames && p.frames.length) {
      const img = el("img", { class: "thumb", width: thumb[0], height: thumb[1], alt: "picture of " + f.key });
      img.src = p.frames[0];
      if (p.frames.length > 1) {
        let timer = null, frame = 0;
        img.addEventListener("mouseenter", () => {
          timer = setInterval(() => { frame = (frame + 1) % p.frames.length; img.src = p.frames[frame]; }, 300);
        });
        img.addEventListener("mouseleave", () => { clearInterval(timer); frame = 0; img.src = p.frames[0]; });
      }
      return img;
    }
    const note = p && p.note ? p.note : f.error !== undefined ? "unreadable" : "no picture";
    return el("div", { class: "placeholder", style: "width:" + thumb[0] + "px;height:" + thumb[1] + "px" }, note);
  }

  function cell(column, f) {
    const td = el("td", { "data-col": column.id, class: column.text ? "text" : "" });
    if (column.id === "picture") { td.appendChild(thumbnail(f)); return td; }
    const v = column.value(f);
    if (v !== null && v !== undefined && !column.text) td.setAttribute("data-v", String(v));
    if (column.id === "textures" && f.textures) {
      if (!f.textures.length) { td.textContent = "none"; return td; }
      const c = textureCounts(f);
      td.appendChild(document.createTextNode(c.found + " found"));
      if (c.extracted) td.appendChild(document.createTextNode(", " + c.extracted + " extracted"));
      if (c.missing) { td.appendChild(document.createTextNode(", ")); td.appendChild(el("span", { class: "bad" }, c.missing + " missing")); }
      return td;
    }
    if (column.id === "change" && f.change) {
      td.appendChild(el("span", { class: f.change.status === "removed" ? "removed-mark" : f.change.status }, f.change.status));
      return td;
    }
    const text = column.show ? column.show(v, f) : column.text ? String(v ?? "") : count(v);
    if ((column.id === "errors" && v > 0) || (column.id === "warnings" && v > 0))
      td.appendChild(el("span", { class: column.id === "errors" ? "bad" : "warn" }, text));
    else
      td.textContent = text;
    return td;
  }

  const files = report.files || [];
  const removed = report.removed || [];
  const table = document.getElementById("files");
  const tbody = table.tBodies[0];
  const rows = [];
  files.forEach((f) => {
    const tr = el("tr", { "data-key": f.key, class: problems(f) ? "problem" : "" });
    tr.file = f;
    if (f.error !== undefined) {
      tr.classList.add("unreadable");
      const lead = comparing ? 4 : 2;  // picture, file[, change, delta]
      for (const column of columns.slice(0, lead)) tr.appendChild(cell(column, f));
      tr.appendChild(el("td", { "data-col": "error", class: "read-error", colspan: String(columns.length - lead - 2) },
                        "unreadable: " + f.error));
      tr.appendChild(cell(columns[columns.length - 2], f));
      tr.appendChild(cell(columns[columns.length - 1], f));
    } else {
      for (const column of columns) tr.appendChild(cell(column, f));
    }
    rows.push(tr);
  });
  removed.forEach((f) => {
    const tr = el("tr", { "data-key": f.key, class: "removed" });
    tr.file = f;
    tr.removedFile = true;
    for (const column of columns) {
      const td = el("td", { "data-col": column.id, class: column.text ? "text" : "" });
      if (column.id === "file") td.textContent = f.key;
      else if (column.id === "change") td.appendChild(el("span", { class: "removed-mark" }, "removed"));
      else if (column.id === "delta") { td.setAttribute("data-v", String(f.change.bytesDelta)); td.textContent = signedBytes(f.change.bytesDelta); }
      tr.appendChild(td);
    }
    rows.push(tr);
  });
  rows.forEach((tr) => tbody.appendChild(tr));

  // Header and totals.
  const headRow = el("tr");
  columns.forEach((column) => {
    const th = el("th", { "data-col": column.id, class: column.text ? "text" : "", scope: "col" }, column.label);
    if (column.sortable !== false) th.addEventListener("click", () => sortBy(column));
    headRow.appendChild(th);
  });
  table.tHead.appendChild(headRow);
  const totalRow = el("tr", { id: "totals" });
  table.tFoot.appendChild(totalRow);

  function sumOf(column, shown) {
    let total = 0;
    for (const tr of shown) {
      if (tr.removedFile && column.id !== "delta") continue;
      const v = tr.querySelector('td[data-col="' + column.id + '"]');
      if (v && v.hasAttribute("data-v")) total += Number(v.getAttribute("data-v"));
    }
    return total;
  }
  function updateTotals(shown) {
    totalRow.textContent = "";
    const present = shown.filter((tr) => !tr.removedFile).length;
    columns.forEach((column) => {
      const td = el("td", { "data-col": column.id, class: column.text ? "text" : "" });
      if (column.id === "file") td.textContent = "Total: " + present + (present === 1 ? " file" : " files");
      else if (column.sum) {
        const total = sumOf(column, shown);
        td.setAttribute("data-v", String(total));
        td.textContent = column.show ? column.show(total) : count(total);
      }
      totalRow.appendChild(td);
    });
  }

  // Sorting: numbers by value (rows without one last), text by code points.
  let sortColumn = null, ascending = true;
  function sortBy(column) {
    ascending = sortColumn === column ? !ascending : !!column.text;
    sortColumn = column;
    for (const th of headRow.children) th.removeAttribute("aria-sort");
    headRow.querySelector('th[data-col="' + column.id + '"]').setAttribute("aria-sort", ascending ? "ascending" : "descending");
    const key = (tr) => {
      if (column.text) return tr.querySelector('td[data-col="' + column.id + '"]')?.textContent ?? "";
      const td = tr.querySelector('td[data-col="' + column.id + '"]');
      return td && td.hasAttribute("data-v") ? Number(td.getAttribute("data-v")) : null;
    };
    const ordered = rows.map((tr, i) => ({ tr, i, k: key(tr) }));
    ordered.sort((x, y) => {
      if (x.k === null || y.k === null) return x.k === y.k ? x.i - y.i : x.k === null ? 1 : -1;
      const c = x.k < y.k ? -1 : x.k > y.k ? 1 : 0;
      return (ascending ? c : -c) || x.i - y.i;
    });
    ordered.forEach(({ tr }) => tbody.appendChild(tr));
  }

  // Filter and "problems only".
  const filter = document.getElementById("filter");
  const problemsOnly = document.getElementById("problems");
  function searchText(f) {
    const parts = [f.key, f.path, f.figures ? f.figures.kind : "", f.error || "", f.take || ""];
    for (const finding of f.findings || []) parts.push(finding.element, finding.message);
    if (f.change) parts.push(f.change.status);
    return parts.join("\n").toLowerCase();
  }
  rows.forEach((tr) => { tr.search = searchText(tr.file); });
  function applyFilter() {
    const words = filter.value.toLowerCase().split(/\s+/).filter(Boolean);
    const shown = [];
    rows.forEach((tr) => {
      const visible = words.every((w) => tr.search.includes(w)) && (!problemsOnly.checked || (!tr.removedFile && problems(tr.file)));
      tr.hidden = !visible;
      if (visible) shown.push(tr);
    });
    updateTotals(shown);
  }
  filter.addEventListener("input", applyFilter);
  problemsOnly.addEventListener("change", applyFilter);
  applyFilter();

  // Summary line.
  const unreadable = files.filter((f) => f.error !== undefined).length;
  const withProblems = files.filter(problems).length;
  let summary = files.length + (files.length === 1 ? " file" : " files") + ", " + withProblems + " with problems";
  if (unreadable) summary += " (" + unreadable + " unreadable)";
  if (comparing) summary += "; since " + (report.compareWith || "the earlier report") + ": " + report.compare.added +
    " added, " + report.compare.changed + " changed, " + report.compare.removed + " removed";
  document.getElementById("summary").textContent = summary;

  // The detail panel.
  const detail = document.getElementById("detail");
  function section(title, ...children) { return [el("h3", {}, title), ...children]; }
  function keyValues(pairs) {
    const t = el("table");
    for (const [k, v] of pairs) t.appendChild(el("tr", {}, el("th", { scope: "row" }, k), el("td", {}, String(v))));
    return t;
  }
  function showDetail(tr) {
    for (const other of rows) other.classList.toggle("selected", other === tr);
    const f = tr.file;
    detail.textContent = "";
    const close = el("button", { id: "close", type: "button" }, "close");
    close.addEventListener("click", () => { detail.hidden = true; tr.classList.remove("selected"); });
    detail.append(close, el("h2", {}, f.key));
    if (f.path !== f.key) detail.append(el("div", { class: "path" }, f.path || ""));
    if (f.change) detail.append(el("p", {}, f.change.status + ", " + signedBytes(f.change.bytesDelta)));
    if (tr.removedFile) { detail.hidden = false; return; }
    const frames = el("div", { class: "frames" });
    if (f.picture && f.picture.frames) {
      f.picture.frames.forEach((uri, i) => {
        const img = el("img", { alt: "frame " + (i + 1) + " of " + f.key, width: f.picture.width, height: f.picture.height });
        img.src = uri;
        frames.appendChild(img);
      });
    } else {
      frames.appendChild(el("div", { class: "placeholder", style: "width:" + 3 * thumb[0] + "px;height:" + 3 * thumb[1] + "px" },
                            f.picture && f.picture.note ? f.picture.note : f.error !== undefined ? "unreadable" : "no picture"));
    }
    detail.append(frames);
    if (f.error !== undefined) detail.append(...section("Read error", el("p", { class: "bad" }, f.error)));
    const findings = el("ul");
    for (const finding of f.findings || [])
      findings.appendChild(el("li", {}, el("span", { class: finding.severity === "error" ? "bad" : "warn" }, finding.severity),
                              ": " + finding.element + ": " + finding.message));
    if (f.findings) detail.append(...section("Findings", f.findings.length ? findings : el("p", { class: "good" }, "none")));
    if (f.bytes) detail.append(...section("Bytes", keyValues([["total", bytes(f.bytes.total)], ["vertex", bytes(f.bytes.vertex)],
      ["index", bytes(f.bytes.index)], ["animation", bytes(f.bytes.animation)], ["strings", bytes(f.bytes.strings)],
      ["other", bytes(f.bytes.other)]])));
    if (f.textures && f.textures.length) {
      const list = el("ul");
      for (const t of f.textures)
        list.appendChild(el("li", {}, el("span", { class: t.state === "missing" ? "bad" : "good" }, t.state), " " + t.type + " " +
                            JSON.stringify(t.path) + (t.file ? " \u2192 " + t.file : "")));
      detail.append(...section("Textures", list));
    }
    const facts = [["kind", f.figures ? f.figures.kind : ""], ["meshes", count(s(f).meshes)], ["vertices", count(s(f).vertices)],
                   ["triangles", count(s(f).triangles)]];
    if (f.figures && f.figures.animation)
      facts.push(["bones", s(f).bones], ["nodes", s(f).nodes], ["keys", count(s(f).keys)],
                 ["duration", f.figures.animation.duration + " ticks, " + seconds(s(f).seconds)]);
    if (f.lodLevel) facts.push(["LOD level", f.lodLevel]);
    if (f.lods && f.lods.length) facts.push(["LOD chain", f.lods.join(", ")]);
    if (f.take) facts.push(["take", f.take]);
    if (f.figures) detail.append(...section("Figures", keyValues(facts)));
    if (f.picture && f.picture.warnings && f.picture.warnings.length) {
      const list = el("ul");
      for (const w of f.picture.warnings) list.appendChild(el("li", {}, w));
      detail.append(...section("Picture", list));
    }
    if (f.figures) detail.append(el("details", {}, el("summary", {}, "varndel-inspect json"), el("pre", {}, JSON.stringify(f.figures, null, 2))));
    detail.hidden = false;
  }
  tbody.addEventListener("click", (event) => {
    const tr = event.target.closest("tr");
    if (tr && tr.parentNode === tbody) showDetail(tr);
  });
  document.documentElement.setAttribute("data-ready", "1");
})();
</script>
</body>
</html>
)html";

// The script's nonce, from the report itself so that one library always
// gives the same page (build caches, diffs). Names from files cannot carry
// markup into the page at all; the nonce is the second wall.
std::string NonceOf(const std::string& json) {
  uint64_t a = 14695981039346656037ull, b = 0x9e3779b97f4a7c15ull ^ json.size();
  for (unsigned char byte : json) {
    a = (a ^ byte) * 1099511628211ull;
    b = (b + byte) * 0xff51afd7ed558ccdull;
    b ^= b >> 29;
  }
  std::string bytes(16, '\0');
  for (int i = 0; i < 8; ++i) {
    bytes[size_t(i)] = char(a >> (8 * i));
    bytes[size_t(8 + i)] = char(b >> (8 * i));
  }
  return Base64Of(bytes);
}

std::string WithNonce(std::string_view text, const std::string& nonce) {
  std::string out(text);
  for (size_t at = out.find("@NONCE@"); at != std::string::npos; at = out.find("@NONCE@", at + nonce.size()))
    out.replace(at, 7, nonce);
  return out;
}

}  // namespace

std::string DumpReport(const nlohmann::json& report, int indent) {
  return report.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string WriteReportPage(const nlohmann::json& report) {
  // '<', '>' and '&' only occur inside JSON strings, where \u escapes mean
  // the same: the element's text can then hold no "</script" or "<!--".
  const std::string json = DumpReport(report, -1);
  std::string escaped;
  escaped.reserve(json.size() + json.size() / 16);
  for (char c : json) {
    switch (c) {
      case '<': escaped += "\\u003c"; break;
      case '>': escaped += "\\u003e"; break;
      case '&': escaped += "\\u0026"; break;
      default: escaped += c;
    }
  }
  const std::string nonce = NonceOf(json);
  return WithNonce(kHead, nonce) + escaped + WithNonce(kTail, nonce);
}

}  // namespace inspect
