/*
 * Tessel dialog script: the form through which a researcher sets the plug-in's
 * parameters and starts its three tasks (choose the motion file, compute the
 * voxel displacement maps, create the confound models).
 *
 * ---------------------------------------------------------------------------
 * Host boundary: TesselHostApi
 * ---------------------------------------------------------------------------
 * Everything this script needs from the host goes through one object with the
 * functions below; bindHost() checks that all of them exist. Nothing else in
 * this file knows how the host draws forms or runs plug-ins, so fitting the
 * script to another host means changing bindHost() alone.
 *
 *   showForm(form)                  draw the form described by `form`
 *                                   (groups of controls, see FORM below)
 *   setEnabled(controlId, enabled)  enable or disable a control
 *   setText(controlId, text)        set the text shown by a label
 *   setValue(controlId, value)      set the value shown by an input control
 *                                   (a number, or a boolean for a checkbox)
 *   setStringParameter(name, text)  plug-in parameters, the ones the plug-in
 *   setIntParameter(name, integer)  reads with zrGetStringParameter,
 *   setFloatParameter(name, number) zrGetIntParameter, zrGetFloatParameter
 *   getStringParameter(name)        -> text; used to read back "sdmfile"
 *   executePlugin()                 run the plug-in's execute() once, now;
 *                                   returns when the plug-in has returned
 *
 * A number field takes decimal notation with a point or a comma as the
 * decimal mark ("0.5", "0,5", "2.5e-1"); a field of whole numbers takes only
 * those. Any other input is refused: the field shows the value still in force
 * again, and the label below the field (id: the field's id + "_problem") says
 * what was wrong, until a value is accepted.
 *
 * The host tells the dialog what the user did through two functions of the
 * dialog object: clicked(controlId) for buttons and changed(controlId, value)
 * for input controls. In the host the script finds the API as the global
 * TesselHost and starts itself; under Node, the tests import
 * createTesselDialog() and pass a fake of the API.
 */
"use strict";

var TESSEL_HOST_FUNCTIONS = [
  "showForm", "setEnabled", "setText", "setValue",
  "setStringParameter", "setIntParameter", "setFloatParameter",
  "getStringParameter", "executePlugin"
];

function bindHost(raw) {
  if (raw === null || typeof raw !== "object") {
    throw new Error("Tessel dialog: no host API object was given.");
  }
  var missing = TESSEL_HOST_FUNCTIONS.filter(function (name) {
    return typeof raw[name] !== "function";
  });
  if (missing.length > 0) {
    throw new Error("Tessel dialog: the host API lacks " + missing.join(", ") + ".");
  }
  var api = {};
  TESSEL_HOST_FUNCTIONS.forEach(function (name) {
    api[name] = function () { return raw[name].apply(raw, arguments); };
  });
  return api;
}

/* ------------------------------------------------------------------------- */
/* The form. Each input control is one plug-in parameter of the same name.   */
/* kind: "float" (number field), "int" (number field of whole numbers),      */
/* "switch" (checkbox, sent as int 1 or 0), "choice" (one of its options'    */
/* values, sent as int), "button", "label".                                   */
/* ------------------------------------------------------------------------- */

var TASK_SELECT = "select_3dmcsdm";
var TASK_DISPLACEMENT = "displacement";
var TASK_CONFOUND = "confound";

var NO_FILE_TEXT = "No motion file chosen yet.";

// A number field of volumes for the scrubbing options: whole numbers, off at 0.
function volumeCountField(id, label, hint) {
  return { id: id, kind: "int", defaultValue: 0, min: 0, max: 1000, step: 1, unit: "volumes",
           label: label, hint: hint };
}

var FORM = [
  {
    title: "Motion file",
    help: "The motion estimates of the 3D motion correction: one run's *_3DMC.sdm, " +
          "or an .mdm that lists several runs. Choose it first; the two buttons " +
          "below stay disabled until a file was read successfully.",
    controls: [
      { id: "choose_file", kind: "button", label: "Choose motion file (SDM or MDM)..." },
      { id: "sdmfile_label", kind: "label", text: NO_FILE_TEXT }
    ]
  },
  {
    title: "Plots",
    help: "One plot window per run; used by both tasks.",
    controls: [
      { id: "plot_regular", kind: "switch", defaultValue: true,
        label: "Plot the motion parameters as estimated (mm and degrees)" },
      { id: "plot_detrended", kind: "switch", defaultValue: true,
        label: "Plot the detrended motion parameters with the relative RMS displacement (mm)" }
    ]
  },
  {
    title: "Voxel displacement maps",
    help: "Every voxel brighter than the intensity threshold in the first volume of the " +
          "current run is followed through the head motion; the maps are added to the " +
          "current run and saved next to the motion file.",
    controls: [
      { id: "fmr_threshold", kind: "float", defaultValue: 100, min: 0, max: 1e9, step: 10,
        unit: "intensity units of the run",
        label: "Brain mask: intensity threshold in the first volume",
        hint: "Voxels whose first-volume intensity is above this value are measured; " +
              "100 keeps the brain of typical 16-bit EPI data and drops the background " +
              "(raise it if the maps show a halo outside the head)." },
      { id: "fmr_threshold_problem", kind: "label", text: "" },
      { id: "map_max_abs", kind: "switch", defaultValue: true,
        label: "Maximum absolute displacement (mm)" },
      { id: "map_mean_abs", kind: "switch", defaultValue: true,
        label: "Mean absolute displacement (mm)" },
      { id: "map_max_rel", kind: "switch", defaultValue: true,
        label: "Maximum volume-to-volume displacement (mm)" },
      { id: "map_mean_rel", kind: "switch", defaultValue: true,
        label: "Mean volume-to-volume displacement (mm)" },
      { id: "map_max_abs_x", kind: "switch", defaultValue: true,
        label: "Maximum absolute displacement along x (mm)" },
      { id: "map_max_abs_y", kind: "switch", defaultValue: true,
        label: "Maximum absolute displacement along y (mm)" },
      { id: "map_max_abs_z", kind: "switch", defaultValue: true,
        label: "Maximum absolute displacement along z (mm)" },
      { id: "run_displacement", kind: "button", label: "Compute displacement maps",
        enabledWhenFileChosen: true }
    ]
  },
  {
    title: "Confound models",
    help: "New SDM files next to the motion file, for use as confound predictors in the " +
          "general linear model; every model is z-scored per column.",
    controls: [
      { id: "spike_threshold", kind: "float", defaultValue: 0.5, min: 0, max: 100, step: 0.1,
        unit: "mm",
        label: "Spike threshold: relative RMS displacement between volumes",
        hint: "A volume that moved more than this against the previous one " +
              "(RMS over a 65 mm sphere) gets its own spike predictor." },
      { id: "spike_threshold_problem", kind: "label", text: "" },
      { id: "create_spikes", kind: "switch", defaultValue: true,
        label: "Spike predictors, one per volume above the threshold (_spikes)" },
      { id: "create_detrended", kind: "switch", defaultValue: true,
        label: "Detrended motion parameters (_detr)" },
      { id: "create_derivative", kind: "switch", defaultValue: true,
        label: "First derivative of the detrended parameters (_deriv)" },
      { id: "create_squared", kind: "switch", defaultValue: true,
        label: "Squared detrended parameters (_sqr)" },
      { id: "create_delayed1", kind: "switch", defaultValue: true,
        label: "Detrended parameters delayed by one volume (_t1)" },
      { id: "create_delayed2", kind: "switch", defaultValue: true,
        label: "Detrended parameters delayed by two volumes (_t2)" },
      { id: "create_delayed1sq", kind: "switch", defaultValue: true,
        label: "Squares of the parameters delayed by one volume (_t1sqr)" },
      { id: "create_delayed2sq", kind: "switch", defaultValue: true,
        label: "Squares of the parameters delayed by two volumes (_t2sqr)" },
      { id: "run_confound", kind: "button", label: "Create confound models",
        enabledWhenFileChosen: true }
    ]
  },
  {
    title: "Scrubbing and quality",
    help: "Used by \"Create confound models\"; everything here is off at 0. Flag more " +
          "volumes than the spikes for scrubbing, write the 24-parameter set or one " +
          "combined file per run, and a quality table of the whole study to decide " +
          "which runs to keep.",
    controls: [
      volumeCountField("spike_before", "Volumes flagged before each spike",
        "Each spike also flags this many volumes before it (within the run); each " +
        "flagged volume gets its own spike predictor."),
      { id: "spike_before_problem", kind: "label", text: "" },
      volumeCountField("spike_after", "Volumes flagged after each spike",
        "Each spike also flags this many volumes after it; 1 or 2 is common, since " +
        "the signal needs a few seconds to recover from a movement."),
      { id: "spike_after_problem", kind: "label", text: "" },
      volumeCountField("spike_min_segment", "Shortest clean stretch kept between flagged volumes",
        "When a run has spikes, every stretch of unflagged volumes shorter than " +
        "this (also at the start or end of the run) is flagged too; 5 is common."),
      { id: "spike_min_segment_problem", kind: "label", text: "" },
      { id: "create_derivativesq", kind: "switch", defaultValue: false,
        label: "Squared derivatives of the detrended parameters (_derivsqr); with " +
               "_detr, _deriv and _sqr the 24-parameter set" },
      { id: "create_combined", kind: "switch", defaultValue: false,
        label: "One file per run with the columns of every model written (_combined)" },
      { id: "create_qc", kind: "switch", defaultValue: false,
        label: "Quality table of the study beside the motion file (_qc.tsv)" },
      { id: "qc_max_mean_fd", kind: "float", defaultValue: 0, min: 0, max: 100, step: 0.05,
        unit: "mm",
        label: "Quality limit: mean framewise displacement of a run (0: no limit)",
        hint: "A run whose mean framewise displacement is above this is marked in the " +
              "table and warned about in the log; 0.2 to 0.5 mm are common." },
      { id: "qc_max_mean_fd_problem", kind: "label", text: "" },
      { id: "qc_max_flagged_percent", kind: "float", defaultValue: 0, min: 0, max: 100,
        step: 1, unit: "%",
        label: "Quality limit: share of flagged volumes of a run (0: no limit)",
        hint: "A run with a larger share of flagged volumes is marked in the table and " +
              "warned about in the log; 20 to 30 % are common." },
      { id: "qc_max_flagged_percent_problem", kind: "label", text: "" },
      volumeCountField("qc_min_remaining", "Quality limit: volumes a run must keep (0: no limit)",
        "A run left with fewer unflagged steady volumes is marked in the table and warned " +
        "about in the log; many studies ask for 5 minutes of data."),
      { id: "qc_min_remaining_problem", kind: "label", text: "" }
    ]
  },
  {
    title: "Signal and censoring",
    help: "Used by \"Create confound models\". The rule that makes a volume a spike, the " +
          "run's own signal (DVARS), the volumes before steady state, and a confounds table " +
          "for Python tools. DVARS and the detection read the run's voxel data (its FMR and " +
          "STC files): a study of an MDM by its data file, a single SDM by the current run.",
    controls: [
      { id: "spike_measure", kind: "choice", defaultValue: 0,
        label: "Censoring rule: what makes a volume a spike",
        options: [
          { value: 0, label: "Relative RMS displacement of the detrended parameters above the " +
                             "spike threshold" },
          { value: 1, label: "Framewise displacement above the FD threshold (0.3 mm, 0.2 mm " +
                             "for strict rules)" },
          { value: 2, label: "Framewise displacement above the FD threshold or std DVARS " +
                             "above the DVARS threshold (0.5 mm and 1.5, as fMRIPrep)" },
          { value: 3, label: "Std DVARS above the DVARS threshold (reads the voxel data)" }
        ] },
      { id: "fd_threshold", kind: "float", defaultValue: 0.5, min: 0, max: 100, step: 0.05,
        unit: "mm",
        label: "FD threshold: framewise displacement of a spike",
        hint: "Used by the rules of framewise displacement; 0.5 mm as fMRIPrep, 0.3 mm as " +
              "xcp_d, 0.2 mm for strict studies." },
      { id: "fd_threshold_problem", kind: "label", text: "" },
      { id: "dvars_threshold", kind: "float", defaultValue: 1.5, min: 0, max: 100, step: 0.1,
        unit: "(std DVARS has no unit)",
        label: "DVARS threshold: standardised DVARS of a spike",
        hint: "Used by the rules of std DVARS; 1.5 as fMRIPrep." },
      { id: "dvars_threshold_problem", kind: "label", text: "" },
      { id: "compute_dvars", kind: "switch", defaultValue: false,
        label: "Compute DVARS of each run for the tables and the plot (reads the run's voxel data)" },
      volumeCountField("dummy_volumes", "Non-steady-state volumes at the start of each run",
        "The first volumes before the signal settles: never spikes, each gets its own " +
        "predictor in the spike model, and the quality figures leave them out."),
      { id: "dummy_volumes_problem", kind: "label", text: "" },
      { id: "detect_dummy_volumes", kind: "switch", defaultValue: false,
        label: "Detect the non-steady-state volumes of each run instead (reads the run's voxel data)" },
      { id: "create_confounds_tsv", kind: "switch", defaultValue: false,
        label: "Confounds table for Python tools (_desc-confounds_timeseries.tsv and .json)" },
      { id: "motion_filter", kind: "choice", defaultValue: 0,
        label: "Motion filter against breathing (fast acquisitions, TR below about 1 s)",
        options: [
          { value: 0, label: "None" },
          { value: 1, label: "Notch: stop the breathing band (reads each run's TR)" },
          { value: 2, label: "Low-pass below the band's lower edge (reads each run's TR)" }
        ] },
      { id: "band_stop_min", kind: "float", defaultValue: 12, min: 0, max: 200, step: 1,
        unit: "breaths per minute",
        label: "Breathing band: lower edge (the low-pass cutoff)",
        hint: "Adults breathe at about 12-18 breaths per minute, children of 6-12 years at " +
              "15-25; a low-pass at 6 suits single-band data." },
      { id: "band_stop_min_problem", kind: "label", text: "" },
      { id: "band_stop_max", kind: "float", defaultValue: 18, min: 0, max: 200, step: 1,
        unit: "breaths per minute",
        label: "Breathing band: upper edge (notch only)",
        hint: "The notch stops the band between the two edges." },
      { id: "band_stop_max_problem", kind: "label", text: "" },
      { id: "motion_filter_order", kind: "int", defaultValue: 4, min: 0, max: 64, step: 1,
        unit: "(the filter's order)",
        label: "Filter order (4 for the notch: one pass; 2 or more for the low-pass)",
        hint: "The notch is applied once per 4 of the order, the low-pass is a Butterworth " +
              "filter of half the order." },
      { id: "motion_filter_order_problem", kind: "label", text: "" },
      { id: "create_filtered", kind: "switch", defaultValue: false,
        label: "Filtered motion parameters as a motion file (_filtered)" },
      { id: "create_report", kind: "switch", defaultValue: false,
        label: "Study report: one page with every run's traces, carpet plot and QC row " +
               "(_report.html beside the motion file; open it in a web browser)" }
    ]
  }
];

// The parameters each computing task reads, besides "task" and "sdmfile".
var TASK_PARAMETERS = {};
TASK_PARAMETERS[TASK_DISPLACEMENT] = [
  "fmr_threshold", "map_max_abs", "map_mean_abs", "map_max_rel", "map_mean_rel",
  "map_max_abs_x", "map_max_abs_y", "map_max_abs_z", "plot_regular", "plot_detrended"
];
TASK_PARAMETERS[TASK_CONFOUND] = [
  "spike_threshold", "create_detrended", "create_derivative", "create_spikes",
  "create_squared", "create_delayed1", "create_delayed1sq", "create_delayed2",
  "create_delayed2sq", "plot_regular", "plot_detrended",
  "spike_before", "spike_after", "spike_min_segment", "create_derivativesq",
  "create_combined", "create_qc", "qc_max_mean_fd", "qc_max_flagged_percent",
  "spike_measure", "fd_threshold", "dvars_threshold", "compute_dvars", "dummy_volumes",
  "detect_dummy_volumes", "create_confounds_tsv", "qc_min_remaining", "fmr_threshold",
  "motion_filter", "band_stop_min", "band_stop_max", "motion_filter_order", "create_filtered",
  "create_report"
];

function formControls() {
  var all = [];
  FORM.forEach(function (group) { all = all.concat(group.controls); });
  return all;
}

function findControl(id) {
  var found = formControls().filter(function (c) { return c.id === id; });
  return found.length === 1 ? found[0] : null;
}

/* Parameter name -> "float" | "int" | "string": what the plug-in reads. */
function parameterTypes() {
  var types = { task: "string", sdmfile: "string" };
  formControls().forEach(function (c) {
    if (c.kind === "float") types[c.id] = "float";
    if (c.kind === "int" || c.kind === "switch" || c.kind === "choice") types[c.id] = "int";
  });
  return types;
}

/* ------------------------------------------------------------------------- */
/* Number fields.                                                             */
/* ------------------------------------------------------------------------- */

// Decimal notation, with a point or a comma as the decimal mark.
var DECIMAL_NUMBER = /^[+-]?(\d+([.,]\d*)?|[.,]\d+)([eE][+-]?\d+)?$/;
// One comma before exactly three digits, after a non-zero whole part of up to
// three digits: "1,500" is 1.5 to some users and 1500 to others.
var COMMA_AS_GROUPING = /^[+-]?0*[1-9]\d{0,2},\d{3}$/;

function problemLabelOf(control) { return control.id + "_problem"; }

function isNumberField(control) { return control.kind === "float" || control.kind === "int"; }

// Reads what the host reports for a number field (a number, or the text as
// typed). Returns { value: number } when it is a number within the field's
// range (a whole one for an "int" field), otherwise { problem: text saying
// why not }.
function readNumber(control, input) {
  var quoted = typeof input === "string" ? "\"" + input + "\"" : String(input);
  var number = input;
  if (typeof input === "string") {
    var text = input.trim();
    if (text === "") return { problem: "The field is empty: type a number." };
    if (!DECIMAL_NUMBER.test(text)) return { problem: quoted + " is not a number." };
    if (COMMA_AS_GROUPING.test(text)) {
      return { problem: quoted + " could mean " + Number(text.replace(",", ".")) + " or " +
                        Number(text.replace(",", "")) +
                        ": type it with a point or without the comma." };
    }
    number = Number(text.replace(",", "."));
  }
  if (typeof number !== "number" || isNaN(number)) return { problem: quoted + " is not a number." };
  if (control.kind === "int" && isFinite(number) && Math.floor(number) !== number) {
    return { problem: quoted + " is not a whole number." };
  }
  if (!(number >= control.min && number <= control.max)) {
    return { problem: quoted + " is not between " + control.min + " and " + control.max + "." };
  }
  return { value: number };
}

/* ------------------------------------------------------------------------- */
/* The dialog.                                                                */
/* ------------------------------------------------------------------------- */

function createTesselDialog(rawHost) {
  var host = bindHost(rawHost);
  var values = {};
  var chosenFile = "";

  formControls().forEach(function (c) {
    if (isNumberField(c) || c.kind === "switch" || c.kind === "choice") {
      values[c.id] = c.defaultValue;
    }
  });

  function sendParameter(id) {
    var control = findControl(id);
    if (control.kind === "float") host.setFloatParameter(id, values[id]);
    else if (control.kind === "int" || control.kind === "choice") host.setIntParameter(id, values[id]);
    else host.setIntParameter(id, values[id] ? 1 : 0);
  }

  function showChosenFile() {
    host.setText("sdmfile_label", chosenFile === "" ? NO_FILE_TEXT : chosenFile);
    formControls().forEach(function (c) {
      if (c.enabledWhenFileChosen) host.setEnabled(c.id, chosenFile !== "");
    });
  }

  function chooseFile() {
    host.setStringParameter("task", TASK_SELECT);
    host.executePlugin();
    // The plug-in stores the path only when it could read the file; after a
    // cancelled or failed choice "sdmfile" still holds the earlier path.
    var text = host.getStringParameter("sdmfile");
    chosenFile = typeof text === "string" ? text : "";
    showChosenFile();
  }

  function runTask(task) {
    if (chosenFile === "") return;
    TASK_PARAMETERS[task].forEach(sendParameter);
    host.setStringParameter("sdmfile", chosenFile);
    host.setStringParameter("task", task);
    host.executePlugin();
  }

  // A checkbox's state, or null when the input is not one.
  function acceptSwitch(value) {
    if (typeof value === "boolean") return value;
    if (typeof value === "number" && (value === 0 || value === 1)) return value === 1;
    return null;
  }

  function refuseNumber(control, problem) {
    host.setValue(control.id, values[control.id]);
    host.setText(problemLabelOf(control),
      problem + " The value stays " + values[control.id] + " " + control.unit + ".");
  }

  var dialog = {
    clicked: function (id) {
      if (id === "choose_file") chooseFile();
      else if (id === "run_displacement") runTask(TASK_DISPLACEMENT);
      else if (id === "run_confound") runTask(TASK_CONFOUND);
    },
    changed: function (id, value) {
      var control = findControl(id);
      if (control === null || !(id in values)) return;
      if (control.kind === "choice") {
        var offered = control.options.some(function (o) { return o.value === value; });
        if (offered) values[id] = value;
        else host.setValue(id, values[id]);
        return;
      }
      if (control.kind === "switch") {
        var on = acceptSwitch(value);
        if (on === null) host.setValue(id, values[id]);
        else values[id] = on;
        return;
      }
      var read = readNumber(control, value);
      if (read.problem !== undefined) {
        refuseNumber(control, read.problem);
        return;
      }
      values[id] = read.value;
      host.setText(problemLabelOf(control), "");
    },
    chosenFile: function () { return chosenFile; },
    value: function (id) { return values[id]; }
  };

  host.showForm(FORM);
  host.setStringParameter("task", "");
  host.setStringParameter("sdmfile", "");
  Object.keys(values).forEach(sendParameter);
  showChosenFile();
  return dialog;
}

/* Started by the host, which offers TesselHost as a global. */
var tesselDialog = null;
if (typeof TesselHost !== "undefined") {
  tesselDialog = createTesselDialog(TesselHost); // eslint-disable-line no-undef
}

if (typeof module !== "undefined" && module.exports) {
  module.exports = {
    createTesselDialog: createTesselDialog,
    bindHost: bindHost,
    parameterTypes: parameterTypes,
    FORM: FORM,
    TESSEL_HOST_FUNCTIONS: TESSEL_HOST_FUNCTIONS,
    TASK_PARAMETERS: TASK_PARAMETERS
  };
}
