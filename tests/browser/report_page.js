// The study report in a real browser: headless Chromium, driven over its
// DevTools protocol (on a pipe: JSON messages ending in NUL), with every host
// name unresolvable.
//   node report_page.js <generator> <chromium> [<screenshot.png>]
// Has the generator write a two-run report (generator <page> 2: the
// synthetic study's, or the sample study's through the plug-in), then
// checks that the page
// loads with no console error and no request outside itself, that each run's
// traces and carpet are drawn where the page places them (pixels of the
// screenshot in their boxes), and that its PDF print holds every carpet. A
// control page that does load from outside and logs an error proves the
// checks can fail. Exits 1 on the first failure.
"use strict";

const assert = require("node:assert/strict");
const { spawn, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { pathToFileURL } = require("node:url");
const zlib = require("node:zlib");

const [generator, chromium, keepScreenshot] = process.argv.slice(2);

// The width x height of every carpet image in the page, from the PNG headers
// of its data: URLs, sorted.
function carpetSizes(html) {
  return [...html.matchAll(/class="carpet"[^>]*?href="data:image\/png;base64,([^"]+)"|href="data:image\/png;base64,([^"]+)"[^>]*?class="carpet"/g)]
    .map((m) => Buffer.from(m[1] || m[2], "base64"))
    .map((png) => `${png.readUInt32BE(16)}x${png.readUInt32BE(20)}`).sort();
}
const RUNS = 2;
const VIEW_WIDTH = 1280;

// One browser; send(method, params, sessionId) resolves with the result,
// events go to the listeners.
function startBrowser(userDataDir) {
  const child = spawn(chromium, [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--host-resolver-rules=MAP * ~NOTFOUND", `--user-data-dir=${userDataDir}`,
    "--remote-debugging-pipe", "about:blank",
  ], { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
  let stderr = "";
  child.stderr.on("data", (d) => { stderr += d; });
  const pending = new Map();
  const listeners = [];
  let nextId = 1;
  let buffer = Buffer.alloc(0);
  child.stdio[4].on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (let end = buffer.indexOf(0); end >= 0; end = buffer.indexOf(0)) {
      const message = JSON.parse(buffer.subarray(0, end).toString("utf8"));
      buffer = buffer.subarray(end + 1);
      if (message.id !== undefined) {
        const { resolve, reject, method } = pending.get(message.id);
        pending.delete(message.id);
        if (message.error) reject(new Error(`${method}: ${message.error.message}`));
        else resolve(message.result);
      } else {
        for (const listener of listeners) listener(message);
      }
    }
  });
  const exited = new Promise((resolve) => child.on("exit", resolve));
  child.on("exit", (code) => {
    for (const { reject } of pending.values()) {
      reject(new Error(`chromium exited (${code}):\n${stderr.slice(-2000)}`));
    }
  });
  return {
    send(method, params = {}, sessionId) {
      const id = nextId++;
      child.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
      return new Promise((resolve, reject) => pending.set(id, { resolve, reject, method }));
    },
    listen(listener) { listeners.push(listener); },
    // Asks the browser to quit (killing it if it does not within 10 s) and
    // resolves once it is gone.
    close() {
      if (child.exitCode !== null) return exited;
      this.send("Browser.close").catch(() => {});
      const timer = setTimeout(() => child.kill("SIGKILL"), 10000);
      return exited.finally(() => clearTimeout(timer));
    },
  };
}

// Opens a tab on url and waits for its load event; records what it requests
// and every error it reports.
async function openPage(browser, url) {
  const { targetId } = await browser.send("Target.createTarget", { url: "about:blank" });
  const { sessionId } = await browser.send("Target.attachToTarget", { targetId, flatten: true });
  const page = { sessionId, requests: [], errors: [] };
  let loaded;
  const load = new Promise((resolve) => { loaded = resolve; });
  browser.listen((m) => {
    if (m.sessionId !== sessionId) return;
    const p = m.params;
    if (m.method === "Network.requestWillBeSent") page.requests.push(p.request.url);
    if (m.method === "Runtime.consoleAPICalled" && p.type === "error") page.errors.push("console");
    if (m.method === "Runtime.exceptionThrown") page.errors.push(p.exceptionDetails.text);
    if (m.method === "Log.entryAdded" && p.entry.level === "error") page.errors.push(p.entry.text);
    if (m.method === "Page.loadEventFired") loaded();
  });
  page.send = (method, params) => browser.send(method, params, sessionId);
  for (const domain of ["Page", "Runtime", "Network", "Log"]) await page.send(`${domain}.enable`);
  await page.send("Emulation.setDeviceMetricsOverride",
    { width: VIEW_WIDTH, height: 900, deviceScaleFactor: 1, mobile: false });
  await page.send("Page.navigate", { url });
  await load;
  return page;
}

// The requests that leave the page: anything but the file itself and data: URLs.
function outsideRequests(page, url) {
  return page.requests.filter((r) => r !== url && !r.startsWith("data:"));
}

// RGB(A) pixels of an 8-bit, non-interlaced PNG.
function decodePng(png) {
  let at = 8;
  let header;
  const data = [];
  while (at < png.length) {
    const length = png.readUInt32BE(at);
    const type = png.toString("latin1", at + 4, at + 8);
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") header = body;
    if (type === "IDAT") data.push(body);
    at += 12 + length;
  }
  const width = header.readUInt32BE(0);
  const height = header.readUInt32BE(4);
  assert.equal(header[8], 8, "screenshot bit depth");
  const channels = { 2: 3, 6: 4 }[header[9]];
  assert.ok(channels, `screenshot colour type ${header[9]}`);
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const value = raw[y * (stride + 1) + 1 + x];
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      const paeth = () => {
        const p = a + b - c;
        const [pa, pb, pc] = [Math.abs(p - a), Math.abs(p - b), Math.abs(p - c)];
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      };
      const predictor = [0, a, b, (a + b) >> 1, filter === 4 ? paeth() : 0][filter];
      pixels[y * stride + x] = (value + predictor) & 0xff;
    }
  }
  return { width, height, channels, pixels };
}

// Counts of the pixels of the curves in box (strongly coloured and dark: the
// shading is pale) and of the grey levels there.
function lookInto(image, box) {
  let coloured = 0;
  const greys = new Set();
  for (let y = Math.ceil(box.top); y < Math.floor(box.bottom); y++) {
    for (let x = Math.ceil(box.left); x < Math.floor(box.right); x++) {
      const i = (y * image.width + x) * image.channels;
      const [r, g, b] = [image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]];
      if (Math.max(r, g, b) - Math.min(r, g, b) > 60 && Math.min(r, g, b) < 150) coloured++;
      if (r === g && g === b) greys.add(r);
    }
  }
  return { coloured, greys: greys.size };
}

async function main() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tessel-report-"));
  const browser = startBrowser(path.join(dir, "profile"));
  try {
    const file = path.join(dir, "study_report.html");
    execFileSync(generator, [file, String(RUNS)], { stdio: "inherit" });
    const url = pathToFileURL(file).href;
    const page = await openPage(browser, url);

    // The whole page in one screenshot, and where the runs' boxes lie in it.
    const { result } = await page.send("Runtime.evaluate", {
      returnByValue: true,
      expression: `JSON.stringify({
        height: document.documentElement.scrollHeight,
        runs: [...document.querySelectorAll("section.run")].map((s) => [
          s.querySelector("g.traces"), s.querySelector("image.carpet")].map((e) => {
            const r = e.getBoundingClientRect();
            return { left: r.left + scrollX, right: r.right + scrollX,
                     top: r.top + scrollY, bottom: r.bottom + scrollY };
          }))})`,
    });
    const layout = JSON.parse(result.value);
    assert.equal(layout.runs.length, RUNS, "run sections");
    await page.send("Emulation.setDeviceMetricsOverride",
      { width: VIEW_WIDTH, height: layout.height, deviceScaleFactor: 1, mobile: false });
    const shot = await page.send("Page.captureScreenshot", { format: "png" });
    const image = decodePng(Buffer.from(shot.data, "base64"));
    layout.runs.forEach(([traces, carpet], i) => {
      assert.ok(traces.bottom - traces.top > 200 && carpet.bottom - carpet.top > 100,
        `run ${i + 1}: boxes ${JSON.stringify([traces, carpet])}`);
      assert.ok(carpet.top >= traces.bottom, `run ${i + 1}: the carpet lies under the traces`);
      const inTraces = lookInto(image, traces);
      assert.ok(inTraces.coloured > 2000, `run ${i + 1}: ${inTraces.coloured} curve pixels in the traces`);
      const inCarpet = lookInto(image, carpet);
      assert.ok(inCarpet.greys > 64, `run ${i + 1}: ${inCarpet.greys} grey levels in the carpet`);
      console.log(`run ${i + 1}: traces ${inTraces.coloured} curve pixels, carpet ${inCarpet.greys} grey levels`);
    });
    fs.writeFileSync(path.join(dir, "screenshot.png"), Buffer.from(shot.data, "base64"));
    if (keepScreenshot) fs.writeFileSync(keepScreenshot, Buffer.from(shot.data, "base64"));

    // On paper: one image object per carpet, as many pixels wide as its run
    // has volumes (157, 174) and as high as it has rows (5000 voxels in 500
    // rows of 10, 6234 in 480 of 13).
    const pdf = Buffer.from((await page.send("Page.printToPDF", { printBackground: true })).data,
      "base64").toString("latin1");
    const carpets = [...pdf.matchAll(/\/Subtype\s*\/Image\b[^>]*?\/Width\s+(\d+)\s*\/Height\s+(\d+)/g)]
      .map((m) => `${m[1]}x${m[2]}`).sort();
    const expected = carpetSizes(fs.readFileSync(file, "utf8"));
    assert.equal(expected.length, RUNS, "carpet images in the page");
    assert.deepEqual(carpets, expected, "carpet images in the PDF");
    const pages = (pdf.match(/\/Type\s*\/Page\b/g) || []).length;
    assert.ok(pages >= RUNS + 1, `${pages} PDF pages`);

    assert.deepEqual(page.errors, [], "errors while loading the report");
    assert.deepEqual(outsideRequests(page, url), [], "requests outside the report");

    // The control: an image from outside and a logged error are both seen.
    const control = path.join(dir, "control.html");
    fs.writeFileSync(control, '<!DOCTYPE html><img src="https://example.org/a.png">' +
      '<script>console.error("control")</script>');
    const controlUrl = pathToFileURL(control).href;
    const controlPage = await openPage(browser, controlUrl);
    assert.deepEqual(outsideRequests(controlPage, controlUrl), ["https://example.org/a.png"]);
    assert.ok(controlPage.errors.includes("console"), "the control's console error is seen");

    console.log(`report page ok: ${fs.statSync(file).size} bytes, ${pages} PDF pages, carpets ${carpets}`);
    await browser.close();
    // Its helper processes may still be leaving the profile for a moment.
    fs.rmSync(dir, { recursive: true, force: true, maxRetries: 10, retryDelay: 200 });
  } catch (error) {
    await browser.close();
    console.error(`kept for a look: ${dir}`);
    throw error;
  }
}

main().catch((error) => {
  console.error(error.stack || String(error));
  process.exit(1);
});
