// The help page against what the plug-in reads and writes: every dialog
// parameter the C++ tasks read (found in their sources), every output suffix,
// and every fixed message must be explained there; the page must stand alone.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");

const root = path.join(__dirname, "..", "..");
const page = fs.readFileSync(path.join(root, "resources", "HelpFolder", "index.html"), "utf8");
const dialogScript = require(path.join(root, "resources", "Tessel.js"));

function sourceFiles() {
  const files = [];
  for (const dir of ["plugin", "tasks", "designmatrix", "fmr", "motion", "confound", "signal"]) {
    for (const name of fs.readdirSync(path.join(root, dir))) {
      if (/\.(cpp|h)$/.test(name)) files.push(path.join(root, dir, name));
    }
  }
  return files;
}

// Parameter name -> "int" | "float" | "string", as the C++ sources read them.
function parametersReadBySources() {
  const found = {};
  // The host's own calls (getIntParameter ...) and the tasks' Host
  // (intParameter, floatParameter, textParameter).
  const pattern = /(?:get(Int|Float|String)|\b(int|float|text))Parameter\(\s*"([^"]+)"\s*\)/g;
  for (const file of sourceFiles()) {
    const text = fs.readFileSync(file, "utf8");
    for (const m of text.matchAll(pattern)) {
      const type = (m[1] || m[2]).toLowerCase().replace("text", "string");
      const name = m[3];
      assert.ok(!(name in found) || found[name] === type,
        `${name} is read as ${found[name]} and as ${type}`);
      found[name] = type;
    }
  }
  return found;
}

// The page's text with tags removed and entities of the page decoded, so that
// a message spread over markup still reads as one text.
function pageText() {
  return page.replace(/<[^>]*>/g, "").replace(/\s+/g, " ")
    .replace(/&lt;/g, "<").replace(/&gt;/g, ">").replace(/&amp;/g, "&")
    .replace(/&quot;/g, "\"").replace(/&#39;/g, "'");
}

const SUFFIXES = ["_spikes.sdm", "_detr.sdm", "_deriv.sdm", "_sqr.sdm", "_t1.sdm", "_t2.sdm",
  "_t1sqr.sdm", "_t2sqr.sdm", "_derivsqr.sdm", "_combined.sdm", "_qc.tsv",
  "_desc-confounds_timeseries.tsv", "_desc-confounds_timeseries.json", "_filtered.sdm", "_report.html", "_MaxAbsolute.map", "_MeanAbsolute.map", "_MeanRelative.map",
  "_MaxRelative.map", "_MaxAbsoluteX.map", "_MaxAbsoluteY.map", "_MaxAbsoluteZ.map"];

test("every parameter the plug-in reads is offered by the dialog with its type and explained", () => {
  const read = parametersReadBySources();
  const offered = dialogScript.parameterTypes();
  assert.ok("task" in read, "the dispatcher reads \"task\"");
  for (const [name, type] of Object.entries(read)) {
    assert.equal(offered[name], type, `dialog offers ${name} as ${type}`);
  }
  for (const name of Object.keys(offered)) {
    assert.ok(name in read, `the plug-in reads the dialog's parameter ${name}`);
  }
  const text = pageText();
  for (const name of Object.keys({ ...read, ...offered })) {
    assert.ok(text.includes(name), `help page names the parameter ${name}`);
  }
});

test("every output suffix is on the page", () => {
  const text = pageText();
  for (const suffix of SUFFIXES) assert.ok(text.includes(suffix), suffix);
});

test("the page stands alone: no scripts, no external resources, links resolve", () => {
  assert.doesNotMatch(page, /<script\b/i);
  assert.doesNotMatch(page, /<link\b/i);
  assert.doesNotMatch(page, /\b(src|href)\s*=\s*"(?!#)/i, "only in-page links");
  assert.doesNotMatch(page, /url\(/i);
  const ids = new Set([...page.matchAll(/\bid="([^"]+)"/g)].map((m) => m[1]));
  for (const m of page.matchAll(/href="#([^"]+)"/g)) assert.ok(ids.has(m[1]), `#${m[1]}`);
});

test("the page's elements are properly nested and closed", () => {
  const voids = new Set(["meta", "br", "hr", "img", "input", "link", "wbr"]);
  // Elements whose end tag HTML lets one leave out; the page closes them anyway.
  const stack = [];
  const body = page.replace(/<!--[\s\S]*?-->/g, "").replace(/<!DOCTYPE[^>]*>/i, "")
    .replace(/<style>[\s\S]*?<\/style>/, "<style></style>");
  for (const m of body.matchAll(/<(\/?)([a-zA-Z][a-zA-Z0-9]*)\b[^>]*?(\/?)>/g)) {
    const [, closing, rawName] = m;
    const name = rawName.toLowerCase();
    if (voids.has(name)) continue;
    if (closing) {
      const open = stack.pop();
      assert.equal(open, name, `</${name}> closes <${open}> (offset ${m.index})`);
    } else {
      stack.push(name);
    }
  }
  assert.deepEqual(stack, []);
  assert.doesNotMatch(body.replace(/<[^>]*>/g, ""), /[<>]/, "bare < or > in text");
});

// Fixed texts the plug-in shows, as they stand in its sources; the page must
// quote each one so that a user can look a message up.
const MESSAGES = [
  "Can not execute this plugin - Zorvane version 2.8 or higher required.",
  "No current document available.",
  "The currently active document is not a FMR document.",
  "You must choose a valid file!",
  "FMR and _3DMC.sdm don't have the same number of volumes!",
  "Not an SDM or MDM file (the name must end in .sdm or .mdm): ",
  "Failed opening for reading: ",
  "Failed opening STC for reading: ",
  "Cannot Create file: ",
  "Failed writing file: ",
  "SDM not found. Select ",
  " manually.",
  "Host function not available: ",
  "slices != nullptr", "dim.z == header.DimZ", "dim.y == header.DimY", "dim.x == header.DimX",
  " values, expected ",
  "missing header key NrOfStudies",
  ", the run has no first volume",
  "holds no data points, nothing to measure",
  " does not name a data file and an SDM file in double quotes",
  ", but the file lists ",
  ") cannot be found after moving the studies from \"",
  "studies moved from \"",
  "\", MDM file saved",
  ", a detrended series needs at least ",
  " cannot be read as ",
  " (found ",
  "Removed the spike file of an earlier run: ",
  "Failed removing file: ",
  "Dialog parameter ",
  ": a number of volumes cannot be negative",
  "Flagged ",
  " around the spikes, ",
  " in all",
  "Removed the combined file of an earlier run: ",
  ": mean framewise displacement ",
  " volumes flagged (",
  " is over the QC limits:",
  " % of the volumes flagged (limit ",
  "Saved the QC table: ",
  ": its path holds a tab or a line break, which the QC table cannot hold",
  "'s data file ", " is not an FMR run; ", "DVARS need", "non-steady-state detection needs",
  " the run's voxel data", " volumes, but the motion file ", " data points",
  ": the rule needs a threshold above 0", " non-steady-state volumes leave fewer than 2 of its ",
  "Non-steady-state volumes at the start of ", " (detected)", " (as set)",
  "Found spike at position ", " with framewise displacement ", " mm and std DVARS ",
  " with std DVARS ", "Spikes by framewise displacement: ", ", by std DVARS: ", ", by both: ",
  "Removed the confounds table of an earlier run: ", " voxels of ", ", mean std DVARS ",
  "no voxel of the first volume is above the threshold of ",
  "; DVARS need a positive one", "no voxel in the mask varies over time; DVARS cannot be computed",
  " holds a value that is not a finite number", " volumes remain (limit ",
  "every volume is flagged; its spike model leaves no data",
  "Motion filter of ", " at TR ", " mm before, ", " mm after",
  "Removed the filtered motion file of an earlier run: ",
  "TR is missing; the motion filter needs the repetition time", "the motion filter needs the run's TR",
  "Saved the study report: ",
];

test("every fixed message is quoted on the page exactly as the plug-in writes it", () => {
  const sources = sourceFiles().map((f) => fs.readFileSync(f, "utf8")).join("\n");
  const text = pageText();
  for (const message of MESSAGES) {
    assert.ok(sources.includes(JSON.stringify(message).slice(1, -1)) || sources.includes(message),
      `the plug-in's sources hold ${JSON.stringify(message)}`);
    assert.ok(text.includes(message), `the page quotes ${JSON.stringify(message)}`);
  }
});
