// Behaviour of the dialog script against a fake host: what each button sends
// to the plug-in, how often it runs it, and what the form shows.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");

const dialogScript = require(path.join(__dirname, "..", "..", "resources", "Tessel.js"));

// A host that keeps the plug-in parameters with their types, the state of
// every control, and a snapshot of the parameters at each plug-in run.
// `plugin` plays the plug-in: it sees the parameters and may change them.
function fakeHost(plugin) {
  const host = {
    parameters: {},
    enabled: {},
    texts: {},
    shownValues: {},
    forms: [],
    runs: [],
    showForm(form) { this.forms.push(form); },
    setEnabled(id, on) { this.enabled[id] = on; },
    setText(id, text) { this.texts[id] = text; },
    setValue(id, value) { this.shownValues[id] = value; },
    setStringParameter(name, text) {
      assert.equal(typeof text, "string", name);
      this.parameters[name] = { type: "string", value: text };
    },
    setIntParameter(name, value) {
      assert.ok(Number.isInteger(value), name);
      this.parameters[name] = { type: "int", value };
    },
    setFloatParameter(name, value) {
      assert.equal(typeof value, "number", name);
      this.parameters[name] = { type: "float", value };
    },
    getStringParameter(name) {
      const p = this.parameters[name];
      return p === undefined ? "" : p.value;
    },
    executePlugin() {
      this.runs.push(JSON.parse(JSON.stringify(this.parameters)));
      if (plugin) plugin(this);
    },
    param(name) { return this.parameters[name]; },
  };
  return host;
}

// The file choice as the plug-in does it: on success it stores the path.
function choosing(filePath) {
  return (host) => {
    if (host.parameters.task.value === "select_3dmcsdm" && filePath !== null) {
      host.setStringParameter("sdmfile", filePath);
    }
  };
}

const MAP_SWITCHES = ["map_max_abs", "map_mean_abs", "map_max_rel", "map_mean_rel",
  "map_max_abs_x", "map_max_abs_y", "map_max_abs_z"];
const MODEL_SWITCHES = ["create_detrended", "create_derivative", "create_spikes",
  "create_squared", "create_delayed1", "create_delayed1sq", "create_delayed2",
  "create_delayed2sq"];
const PLOT_SWITCHES = ["plot_regular", "plot_detrended"];

test("start-up: defaults sent with their types, compute buttons disabled, nothing run", () => {
  const host = fakeHost();
  dialogScript.createTesselDialog(host);
  assert.equal(host.forms.length, 1);
  assert.equal(host.runs.length, 0);
  assert.deepEqual(host.param("fmr_threshold"), { type: "float", value: 100 });
  assert.deepEqual(host.param("spike_threshold"), { type: "float", value: 0.5 });
  for (const name of [...MAP_SWITCHES, ...MODEL_SWITCHES, ...PLOT_SWITCHES]) {
    assert.deepEqual(host.param(name), { type: "int", value: 1 }, name);
  }
  assert.deepEqual(host.param("sdmfile"), { type: "string", value: "" });
  assert.equal(host.enabled.run_displacement, false);
  assert.equal(host.enabled.run_confound, false);
  assert.equal(host.texts.sdmfile_label, "No motion file chosen yet.");
});

test("choose button runs the file choice once and shows the path the plug-in stored", () => {
  const chosen = "C:\\study\\run1_3DMC.sdm";
  const host = fakeHost(choosing(chosen));
  const dialog = dialogScript.createTesselDialog(host);
  dialog.clicked("choose_file");
  assert.equal(host.runs.length, 1);
  assert.equal(host.runs[0].task.value, "select_3dmcsdm");
  assert.equal(host.texts.sdmfile_label, chosen);
  assert.equal(dialog.chosenFile(), chosen);
  assert.equal(host.enabled.run_displacement, true);
  assert.equal(host.enabled.run_confound, true);
});

test("a cancelled or failed choice leaves the compute buttons as they were", () => {
  // First choice cancelled: still nothing chosen.
  let answer = null;
  const host = fakeHost((h) => choosing(answer)(h));
  const dialog = dialogScript.createTesselDialog(host);
  dialog.clicked("choose_file");
  assert.equal(host.runs.length, 1);
  assert.equal(host.enabled.run_displacement, false);
  assert.equal(host.enabled.run_confound, false);
  assert.equal(host.texts.sdmfile_label, "No motion file chosen yet.");
  // A good choice, then a failed one: the plug-in keeps the earlier path.
  answer = "/data/study.mdm";
  dialog.clicked("choose_file");
  answer = null;
  dialog.clicked("choose_file");
  assert.equal(host.runs.length, 3);
  assert.equal(host.texts.sdmfile_label, "/data/study.mdm");
  assert.equal(host.enabled.run_confound, true);
});

test("compute buttons do nothing before a file was chosen", () => {
  const host = fakeHost(choosing(null));
  const dialog = dialogScript.createTesselDialog(host);
  dialog.clicked("run_displacement");
  dialog.clicked("run_confound");
  assert.equal(host.runs.length, 0);
  dialog.clicked("choose_file");
  dialog.clicked("run_displacement");
  assert.equal(host.runs.length, 1, "only the (cancelled) choice ran");
});

test("displacement button sends its parameters, as changed by the user, and runs once", () => {
  const host = fakeHost(choosing("/data/run1_3DMC.sdm"));
  const dialog = dialogScript.createTesselDialog(host);
  dialog.clicked("choose_file");
  dialog.changed("fmr_threshold", "250.5");
  dialog.changed("map_mean_rel", false);
  dialog.changed("map_max_abs_y", 0);
  dialog.changed("plot_regular", false);
  // Not read by this task: must not leak into it.
  dialog.changed("spike_threshold", 0.8);
  dialog.clicked("run_displacement");
  assert.equal(host.runs.length, 2);
  const run = host.runs[1];
  assert.deepEqual(run.task, { type: "string", value: "displacement" });
  assert.deepEqual(run.sdmfile, { type: "string", value: "/data/run1_3DMC.sdm" });
  assert.deepEqual(run.fmr_threshold, { type: "float", value: 250.5 });
  const expectedOn = { map_mean_rel: 0, map_max_abs_y: 0, plot_regular: 0 };
  for (const name of [...MAP_SWITCHES, ...PLOT_SWITCHES]) {
    const value = name in expectedOn ? expectedOn[name] : 1;
    assert.deepEqual(run[name], { type: "int", value }, name);
  }
  assert.equal(run.spike_threshold.value, 0.5);
});

test("confound button sends its parameters, as changed by the user, and runs once", () => {
  const host = fakeHost(choosing("/data/study_3DMC.mdm"));
  const dialog = dialogScript.createTesselDialog(host);
  dialog.clicked("choose_file");
  dialog.changed("spike_threshold", 0.25);
  dialog.changed("create_delayed2sq", false);
  dialog.changed("create_spikes", 0);
  dialog.changed("plot_detrended", false);
  dialog.changed("fmr_threshold", 900);
  dialog.clicked("run_confound");
  dialog.clicked("run_confound");
  assert.equal(host.runs.length, 3);
  for (const run of host.runs.slice(1)) {
    assert.deepEqual(run.task, { type: "string", value: "confound" });
    assert.deepEqual(run.sdmfile, { type: "string", value: "/data/study_3DMC.mdm" });
    assert.deepEqual(run.spike_threshold, { type: "float", value: 0.25 });
    const off = new Set(["create_delayed2sq", "create_spikes", "plot_detrended"]);
    for (const name of [...MODEL_SWITCHES, ...PLOT_SWITCHES]) {
      assert.deepEqual(run[name], { type: "int", value: off.has(name) ? 0 : 1 }, name);
    }
    // The confound task reads the brain mask's threshold too, for DVARS.
    assert.equal(run.fmr_threshold.value, 900);
  }
});

test("a decimal comma in a number field is read as the decimal mark", () => {
  const host = fakeHost(choosing("/data/run1_3DMC.sdm"));
  const dialog = dialogScript.createTesselDialog(host);
  dialog.clicked("choose_file");
  for (const [typed, read] of [["0,25", 0.25], [" 1,75 ", 1.75], ["0,500", 0.5], [",3", 0.3],
    ["2,5e-1", 0.25], ["0.75", 0.75]]) {
    dialog.changed("spike_threshold", typed);
    assert.equal(dialog.value("spike_threshold"), read, typed);
  }
  dialog.changed("fmr_threshold", "250,5");
  dialog.clicked("run_confound");
  dialog.clicked("run_displacement");
  assert.deepEqual(host.runs[1].spike_threshold, { type: "float", value: 0.75 });
  assert.deepEqual(host.runs[2].fmr_threshold, { type: "float", value: 250.5 });
  assert.equal(host.texts.spike_threshold_problem, "");
});

test("input that is not a usable number is refused with a hint; the field shows the old value", () => {
  const host = fakeHost(choosing("/data/run1_3DMC.sdm"));
  const dialog = dialogScript.createTesselDialog(host);
  const stays = " The value stays 0.5 mm.";
  const refusals = [
    ["abc", "\"abc\" is not a number."],
    ["", "The field is empty: type a number."],
    ["  ", "The field is empty: type a number."],
    ["0.5.1", "\"0.5.1\" is not a number."],
    ["1,000.5", "\"1,000.5\" is not a number."],
    ["0,5 mm", "\"0,5 mm\" is not a number."],
    ["0x10", "\"0x10\" is not a number."],
    ["Infinity", "\"Infinity\" is not a number."],
    [NaN, "NaN is not a number."],
    [true, "true is not a number."],
    [-0.1, "-0.1 is not between 0 and 100."],
    ["100,5", "\"100,5\" is not between 0 and 100."],
    [Infinity, "Infinity is not between 0 and 100."],
    ["1e999", "\"1e999\" is not between 0 and 100."],
    ["1,500", "\"1,500\" could mean 1.5 or 1500: type it with a point or without the comma."],
  ];
  for (const [bad, problem] of refusals) {
    host.texts.spike_threshold_problem = "";
    dialog.changed("spike_threshold", bad);
    assert.equal(dialog.value("spike_threshold"), 0.5, String(bad));
    assert.equal(host.shownValues.spike_threshold, 0.5, String(bad));
    assert.equal(host.texts.spike_threshold_problem, problem + stays, String(bad));
  }
  dialog.changed("fmr_threshold", "2,500");
  assert.equal(dialog.value("fmr_threshold"), 100);
  assert.equal(host.texts.fmr_threshold_problem, "\"2,500\" could mean 2.5 or 2500: type it " +
    "with a point or without the comma. The value stays 100 intensity units of the run.");
  assert.equal(host.texts.spike_threshold_problem, "\"1,500\" could mean 1.5 or 1500: type it " +
    "with a point or without the comma." + stays, "another field's hint stays");
  dialog.changed("fmr_threshold", "2500");
  assert.equal(host.texts.fmr_threshold_problem, "", "an accepted value clears the hint");
  for (const bad of ["yes", 2, 0.5, null]) {
    dialog.changed("map_max_abs", bad);
    assert.equal(dialog.value("map_max_abs"), true, String(bad));
  }
  dialog.changed("spike_threshold", "0");
  assert.equal(dialog.value("spike_threshold"), 0);
  dialog.clicked("choose_file");
  dialog.clicked("run_confound");
  assert.deepEqual(host.runs[1].spike_threshold, { type: "float", value: 0 });
  assert.deepEqual(host.runs[1].map_max_abs, { type: "int", value: 1 });
});

test("scrubbing and quality: off by default, whole counts, sent with the confound task only", () => {
  const group = dialogScript.FORM.find((g) => g.title === "Scrubbing and quality");
  const inputs = group.controls.filter((c) => c.kind !== "label").map((c) => c.id);
  assert.deepEqual(inputs, ["spike_before", "spike_after", "spike_min_segment",
    "create_derivativesq", "create_combined", "create_qc", "qc_max_mean_fd",
    "qc_max_flagged_percent", "qc_min_remaining"]);
  const types = { spike_before: "int", spike_after: "int", spike_min_segment: "int",
    create_derivativesq: "int", create_combined: "int", create_qc: "int",
    qc_max_mean_fd: "float", qc_max_flagged_percent: "float", qc_min_remaining: "int" };
  const host = fakeHost(choosing("/data/study.mdm"));
  const dialog = dialogScript.createTesselDialog(host);
  for (const name of inputs) assert.deepEqual(host.param(name), { type: types[name], value: 0 }, name);

  const stays = " The value stays 0 volumes.";
  for (const [bad, problem] of [["2.5", "\"2.5\" is not a whole number."],
    ["1,5", "\"1,5\" is not a whole number."], [0.5, "0.5 is not a whole number."],
    ["-1", "\"-1\" is not between 0 and 1000."], ["two", "\"two\" is not a number."]]) {
    dialog.changed("spike_after", bad);
    assert.equal(dialog.value("spike_after"), 0, String(bad));
    assert.equal(host.shownValues.spike_after, 0, String(bad));
    assert.equal(host.texts.spike_after_problem, problem + stays, String(bad));
  }
  dialog.changed("spike_before", "1");
  dialog.changed("spike_after", "2,0");
  dialog.changed("spike_min_segment", 5);
  dialog.changed("create_derivativesq", true);
  dialog.changed("create_qc", 1);
  dialog.changed("qc_max_mean_fd", "0,3");
  dialog.changed("qc_max_flagged_percent", "125");
  assert.equal(host.texts.spike_after_problem, "");
  assert.equal(host.texts.qc_max_flagged_percent_problem,
    "\"125\" is not between 0 and 100. The value stays 0 %.");
  dialog.clicked("choose_file");
  dialog.clicked("run_displacement");
  dialog.clicked("run_confound");
  const [, displacement, confound] = host.runs;
  assert.deepEqual(displacement.spike_before, { type: "int", value: 0 }, "not the displacement's");
  const sent = { spike_before: 1, spike_after: 2, spike_min_segment: 5, create_derivativesq: 1,
    create_combined: 0, create_qc: 1, qc_max_mean_fd: 0.3, qc_max_flagged_percent: 0,
    qc_min_remaining: 0 };
  for (const name of inputs) {
    assert.deepEqual(confound[name], { type: types[name], value: sent[name] }, name);
  }
});

test("signal and censoring: the rule as a choice, fMRIPrep's thresholds filled in, off otherwise", () => {
  const host = fakeHost(choosing("/data/study.mdm"));
  const dialog = dialogScript.createTesselDialog(host);
  assert.deepEqual(host.param("spike_measure"), { type: "int", value: 0 });
  assert.deepEqual(host.param("fd_threshold"), { type: "float", value: 0.5 });
  assert.deepEqual(host.param("dvars_threshold"), { type: "float", value: 1.5 });
  for (const name of ["compute_dvars", "dummy_volumes", "detect_dummy_volumes",
    "create_confounds_tsv"]) {
    assert.deepEqual(host.param(name), { type: "int", value: 0 }, name);
  }
  dialog.changed("spike_measure", 4);
  assert.equal(dialog.value("spike_measure"), 0);
  assert.equal(host.shownValues.spike_measure, 0);
  dialog.changed("spike_measure", 2);
  dialog.changed("dummy_volumes", "3");
  dialog.changed("create_confounds_tsv", true);
  dialog.clicked("choose_file");
  dialog.clicked("run_confound");
  const confound = host.runs[1];
  assert.deepEqual(confound.spike_measure, { type: "int", value: 2 });
  assert.deepEqual(confound.dummy_volumes, { type: "int", value: 3 });
  assert.deepEqual(confound.create_confounds_tsv, { type: "int", value: 1 });
});

test("a host API that lacks a function is refused with its name", () => {
  const host = fakeHost();
  delete host.executePlugin;
  delete host.setValue;
  assert.throws(() => dialogScript.createTesselDialog(host),
    { message: "Tessel dialog: the host API lacks setValue, executePlugin." });
  assert.throws(() => dialogScript.createTesselDialog(undefined),
    { message: "Tessel dialog: no host API object was given." });
});

test("every control has a label and unique id; number fields a unit and a problem line", () => {
  const ids = new Set();
  for (const group of dialogScript.FORM) {
    assert.ok(group.title);
    for (const c of group.controls) {
      assert.ok(!ids.has(c.id), c.id);
      ids.add(c.id);
      if (c.kind !== "label") assert.ok(c.label && c.label.length > 10, c.id);
      if (c.kind === "choice") {
        assert.ok(c.options.some((o) => o.value === c.defaultValue), c.id);
        for (const o of c.options) assert.ok(Number.isInteger(o.value) && o.label, c.id);
      }
      if (c.kind === "float" || c.kind === "int") {
        assert.ok(c.unit && c.hint, c.id);
        assert.ok(c.min <= c.defaultValue && c.defaultValue <= c.max, c.id);
        const next = group.controls[group.controls.indexOf(c) + 1];
        assert.deepEqual(next, { id: c.id + "_problem", kind: "label", text: "" },
          `the line below ${c.id} is kept for its input problems`);
      }
    }
  }
});

test("loaded as a plain script with a global TesselHost, the dialog starts itself", () => {
  const vm = require("node:vm");
  const fs = require("node:fs");
  const source = fs.readFileSync(
    path.join(__dirname, "..", "..", "resources", "Tessel.js"), "utf8");
  const host = fakeHost(choosing("D:/runs/run2_3DMC.sdm"));
  const context = vm.createContext({ TesselHost: host });
  vm.runInContext(source, context, { filename: "Tessel.js" });
  assert.equal(host.forms.length, 1);
  assert.equal(typeof context.tesselDialog.clicked, "function");
  context.tesselDialog.clicked("choose_file");
  context.tesselDialog.clicked("run_displacement");
  assert.deepEqual(host.runs.map((r) => r.task.value), ["select_3dmcsdm", "displacement"]);
});
