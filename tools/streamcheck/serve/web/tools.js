'use strict';
// The zoom viewer's rulers and its compare with a picture the user gives.
// app.js calls viewerTools.shown(viewed) each time it draws the viewed label.
window.viewerTools = (() => {
  const DOTS_PER_MM = 360 / 25.4;  // the printer's 360 dots per inch
  const LARGEST_PICTURE = 40e6;  // pixels of a picture the page compares: bounds its memory
  const LARGEST_FILE = 256 * 1024 * 1024;  // and the bytes of its file, refused before decoding
  const body = document.getElementById('viewer-body');
  const viewer = document.getElementById('viewer');
  const rulers = { top: document.getElementById('ruler-top'), left: document.getElementById('ruler-left') };
  const readout = document.getElementById('ruler-pointer');
  const resultBox = document.getElementById('compare-result');
  const fileInput = document.getElementById('compare-file');
  const blend = document.getElementById('compare-blend');
  const marks = document.getElementById('compare-marks');
  const tolerance = document.getElementById('compare-tolerance');
  const clearButton = document.getElementById('compare-clear');
  let current = null;  // { label, zoom } as app.js shows it
  let pointer = null;  // the pointer's last place over the viewer, in page pixels
  let compared = null;  // the last compare: { labelUrl, name, designUrl, design, label, overlap, count, box, canvas }
  let compareRun = 0;  // a newer compare makes an older one that is still loading give way
  let redrawQueued = false;

  function make(tag, className, text) {
    const element = document.createElement(tag);
    if (className) element.className = className;
    if (text !== undefined) element.textContent = text;
    return element;
  }
  const mm = (dots) => (dots / DOTS_PER_MM).toFixed(2);

  // Where the label's dot 0,0 lies on the screen and how many CSS pixels a dot takes.
  function geometry() {
    const image = body.querySelector('img.label');
    if (!current || !image || viewer.hidden) return null;
    const r = image.getBoundingClientRect();
    return { left: r.left, top: r.top, x: r.width / current.label.width, y: r.height / current.label.height };
  }

  // The smallest step of 1, 2 or 5 times a power of ten (at least `least`
  // units) whose ticks lie `pixels` apart or more.
  function tickStep(pixelsPerUnit, pixels, least) {
    for (let power = Math.round(Math.log10(least)); power < 12; ++power) {
      for (const m of [1, 2, 5]) {
        const step = m * Math.pow(10, power);
        if (step >= least && step * pixelsPerUnit >= pixels) return { step, power };
      }
    }
    return { step: Infinity, power: 0 };
  }

  // One row of ticks: dots (unit 1) or millimetres; `origin` is where dot 0
  // lies in the ruler, `scale` the pixels per dot, `length` the label's size.
  function ticks(into, unit, unitDots, horizontal, origin, scale, length, size) {
    const { step, power } = tickStep(unitDots * scale, 56, unitDots === 1 ? 1 : 0.1);
    if (!isFinite(step)) return;
    let minor = step / 5;
    if ((unitDots === 1 && !Number.isInteger(minor)) || minor * unitDots * scale < 5) minor = step / 2;
    if ((unitDots === 1 && !Number.isInteger(minor)) || minor * unitDots * scale < 5) minor = step;
    const every = Math.round(step / minor);
    const decimals = Math.max(0, -power);
    const first = Math.max(0, Math.ceil(-origin / scale / unitDots / minor));
    const last = Math.floor(Math.min(length, (size - origin) / scale) / unitDots / minor + 1e-9);
    for (let i = first; i <= last; ++i) {
      const major = i % every === 0;
      const value = i * minor;
      const tick = make('div', 'tick ' + unit + (major ? ' major' : ''));
      tick.style[horizontal ? 'left' : 'top'] = (origin + value * unitDots * scale) + 'px';
      if (major) {
        tick.dataset.value = value.toFixed(decimals);
        tick.append(make('span', '', tick.dataset.value));
      }
      into.append(tick);
    }
  }

  function drawRulers() {
    redrawQueued = false;
    const g = geometry();
    for (const [side, ruler] of Object.entries(rulers)) {
      const fragment = document.createDocumentFragment();
      if (g) {
        const horizontal = side === 'top';
        const r = ruler.getBoundingClientRect();
        const origin = horizontal ? g.left - r.left : g.top - r.top;
        const scale = horizontal ? g.x : g.y;
        const length = horizontal ? current.label.width : current.label.height;
        const size = horizontal ? r.width : r.height;
        ticks(fragment, 'dots', 1, horizontal, origin, scale, length, size);
        ticks(fragment, 'mm', DOTS_PER_MM, horizontal, origin, scale, length, size);
        if (pointer) {
          const at = horizontal ? pointer.x - r.left : pointer.y - r.top;
          if (at >= 0 && at <= size) {
            const line = make('div', 'pointer');
            line.style[horizontal ? 'left' : 'top'] = at + 'px';
            fragment.append(line);
          }
        }
      }
      ruler.replaceChildren(fragment);
    }
    showPointer();
  }

  function queueRulers() {
    if (redrawQueued) return;
    redrawQueued = true;
    requestAnimationFrame(drawRulers);
  }

  // The dot under the pointer, in dots and millimetres from the label's top-left corner.
  function showPointer() {
    const g = geometry();
    const x = g && pointer ? Math.floor((pointer.x - g.left) / g.x) : -1;
    const y = g && pointer ? Math.floor((pointer.y - g.top) / g.y) : -1;
    if (!g || x < 0 || y < 0 || x >= current.label.width || y >= current.label.height) {
      delete readout.dataset.x;
      delete readout.dataset.y;
      readout.textContent = 'pointer: off the label';
      return;
    }
    readout.dataset.x = x;
    readout.dataset.y = y;
    readout.textContent = 'x ' + x + ' dots (' + mm(x) + ' mm) · y ' + y + ' dots (' + mm(y) + ' mm)';
  }

  body.addEventListener('mousemove', (event) => {
    pointer = { x: event.clientX, y: event.clientY };
    queueRulers();
  });
  body.addEventListener('mouseleave', () => {
    pointer = null;
    queueRulers();
  });
  body.addEventListener('scroll', queueRulers);
  window.addEventListener('resize', queueRulers);

  function setResult(text, kind) {
    if (!text) {
      text = 'Drop a picture on the label, or choose one, to compare them.';
      kind = 'hint';
    }
    resultBox.textContent = text;
    resultBox.className = 'compare-result' + (kind ? ' ' + kind : '');
  }

  function forget() {
    if (compared) URL.revokeObjectURL(compared.designUrl);
    compared = null;
    delete resultBox.dataset.count;
    delete resultBox.dataset.box;
    delete resultBox.dataset.sizeDifference;
    clearButton.hidden = true;
  }

  function clearCompare() {
    ++compareRun;
    forget();
    setResult('');
    for (const old of body.querySelectorAll('.design, .differences, .difference-box')) old.remove();
  }

  async function bitmapOf(blob) {
    return createImageBitmap(blob, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  }

  // A picture's pixels as RGBA, on white: a design exported with a
  // transparent background is compared as it would print.
  function pixelsOf(bitmap) {
    const canvas = document.createElement('canvas');
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
    const context = canvas.getContext('2d', { willReadFrequently: true });
    context.fillStyle = '#fff';
    context.fillRect(0, 0, canvas.width, canvas.height);
    context.drawImage(bitmap, 0, 0);
    return context.getImageData(0, 0, canvas.width, canvas.height).data;
  }

  // Compares where both pictures have pixels, the design placed at the
  // label's top-left corner; a pixel differs when a colour channel differs by
  // more than the tolerance. Marks those pixels red on a canvas of the overlap.
  function difference(label, design, limit) {
    const width = Math.min(label.width, design.width);
    const height = Math.min(label.height, design.height);
    const a = pixelsOf(label);
    const b = pixelsOf(design);
    const canvas = document.createElement('canvas');
    canvas.className = 'differences';
    canvas.width = Math.max(1, width);
    canvas.height = Math.max(1, height);
    const context = canvas.getContext('2d');
    const marked = context.createImageData(canvas.width, canvas.height);
    const out = marked.data;
    let count = 0, left = Infinity, top = Infinity, right = -1, bottom = -1;
    for (let y = 0; y < height; ++y) {
      let i = y * label.width * 4;
      let j = y * design.width * 4;
      let k = y * canvas.width * 4;
      for (let x = 0; x < width; ++x, i += 4, j += 4, k += 4) {
        if (Math.abs(a[i] - b[j]) > limit || Math.abs(a[i + 1] - b[j + 1]) > limit ||
            Math.abs(a[i + 2] - b[j + 2]) > limit) {
          ++count;
          if (x < left) left = x;
          if (x > right) right = x;
          if (y < top) top = y;
          bottom = y;
          out[k] = 220;
          out[k + 1] = 38;
          out[k + 2] = 38;
          out[k + 3] = 255;
        }
      }
    }
    context.putImageData(marked, 0, 0);
    const box = count ? { x: left, y: top, width: right - left + 1, height: bottom - top + 1 } : null;
    return { count, box, canvas, overlap: { width, height } };
  }

  function sizeWords(label, design) {
    const words = [];
    const dw = design.width - label.width, dh = design.height - label.height;
    if (dw) words.push(Math.abs(dw) + ' dots ' + (dw > 0 ? 'wider' : 'narrower'));
    if (dh) words.push(Math.abs(dh) + ' dots ' + (dh > 0 ? 'taller' : 'shorter'));
    return words.join(' and ');
  }

  function describe() {
    const c = compared;
    resultBox.dataset.count = c.count;
    resultBox.dataset.box = c.box ? [c.box.x, c.box.y, c.box.width, c.box.height].join(',') : '';
    resultBox.dataset.sizeDifference = (c.design.width - c.label.width) + ',' + (c.design.height - c.label.height);
    let text = c.name + ': ' + c.count.toLocaleString() + ' pixel' + (c.count === 1 ? '' : 's') + ' differ';
    if (c.box) {
      text += ' in x ' + c.box.x + '–' + (c.box.x + c.box.width - 1) + ', y ' + c.box.y + '–' +
          (c.box.y + c.box.height - 1) + ' (' + c.box.width + ' × ' + c.box.height + ' dots, ' + mm(c.box.width) +
          ' × ' + mm(c.box.height) + ' mm)';
    }
    const size = sizeWords(c.label, c.design);
    if (size) {
      text += ' · the picture is ' + c.design.width + ' × ' + c.design.height + ', ' + size + ' than the label (' +
          c.label.width + ' × ' + c.label.height + '): placed at its top-left corner, compared over ' +
          c.overlap.width + ' × ' + c.overlap.height;
    }
    setResult(text, c.count || size ? 'differ' : 'same');
    clearButton.hidden = false;
  }

  // Lays the design and the marks over the viewed picture, at its zoom.
  function overlay() {
    const box = body.querySelector('.picture');
    const image = box && box.querySelector('img.label');
    for (const old of body.querySelectorAll('.design, .differences, .difference-box')) old.remove();
    if (!compared || !image || !current || compared.labelUrl !== current.label.url) return;
    const scale = image.width / current.label.width;
    const place = (element, x, y, width, height) => {
      element.style.left = x * scale + 'px';
      element.style.top = y * scale + 'px';
      element.style.width = width * scale + 'px';
      element.style.height = height * scale + 'px';
    };
    const design = make('img', 'design');
    design.src = compared.designUrl;
    design.alt = compared.name;
    place(design, 0, 0, compared.design.width, compared.design.height);
    design.style.opacity = blend.value / 100;
    place(compared.canvas, 0, 0, compared.overlap.width, compared.overlap.height);
    box.append(design, compared.canvas);
    if (compared.box) {
      const outline = make('div', 'difference-box');
      place(outline, compared.box.x, compared.box.y, compared.box.width, compared.box.height);
      outline.title = compared.count.toLocaleString() + ' pixels differ';
      box.append(outline);
    }
    box.classList.toggle('hide-differences', !marks.checked);
  }

  async function compareWith(file) {
    if (!current || !file) return;
    const label = current.label;
    const run = ++compareRun;
    setResult('comparing with ' + file.name + '…');
    try {
      if (file.size > LARGEST_FILE) throw new Error(file.name + ' is ' + file.size + ' bytes: too large to compare here');
      const response = await fetch(label.url);
      if (!response.ok) throw new Error('the label\'s picture cannot be read (HTTP ' + response.status + ')');
      const mine = await bitmapOf(await response.blob());
      let theirs;
      try {
        theirs = await bitmapOf(file);
      } catch (error) {
        throw new Error(file.name + ' is not a picture this browser can read');
      }
      if (run !== compareRun) return;
      if (theirs.width * theirs.height > LARGEST_PICTURE || theirs.width > 32767 || theirs.height > 32767) {
        throw new Error(file.name + ' is ' + theirs.width + ' × ' + theirs.height + ': too large to compare here');
      }
      const limit = Math.max(0, Math.min(255, Number(tolerance.value) || 0));
      const found = difference(mine, theirs, limit);
      forget();
      compared = Object.assign(found, {
        labelUrl: label.url, name: file.name, designUrl: URL.createObjectURL(file),
        design: { width: theirs.width, height: theirs.height }, label: { width: mine.width, height: mine.height },
        file });
      mine.close();
      theirs.close();
      describe();
      overlay();
    } catch (error) {
      if (run !== compareRun) return;
      clearCompare();
      setResult(error.message, 'fault');
    }
  }

  function firstFile(event) {
    const files = event.dataTransfer && event.dataTransfer.files;
    return files && files.length ? files[0] : null;
  }
  const carriesFiles = (event) => event.dataTransfer && [...event.dataTransfer.types].includes('Files');

  // A picture dropped on the viewer is compared with the label it shows; one
  // dropped on a label's picture in the list opens that label first. A file
  // dropped anywhere else is refused rather than opened in place of the page.
  document.addEventListener('dragover', (event) => {
    if (!carriesFiles(event)) return;
    event.preventDefault();
    const target = event.target.closest && event.target.closest('.viewer, .picture');
    event.dataTransfer.dropEffect = target ? 'copy' : 'none';
    viewer.classList.toggle('dropping', !viewer.hidden && target === viewer);
    for (const box of document.querySelectorAll('.picture.dropping')) if (box !== target) box.classList.remove('dropping');
    if (target && target !== viewer) target.classList.add('dropping');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.target === document.documentElement || !event.relatedTarget) {
      viewer.classList.remove('dropping');
      for (const box of document.querySelectorAll('.picture.dropping')) box.classList.remove('dropping');
    }
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    viewer.classList.remove('dropping');
    for (const box of document.querySelectorAll('.picture.dropping')) box.classList.remove('dropping');
    const file = firstFile(event);
    if (!file) return;
    const inViewer = !viewer.hidden && event.target.closest && event.target.closest('.viewer');
    const thumbnail = !inViewer && event.target.closest && event.target.closest('.picture');
    if (thumbnail) thumbnail.click();  // opens the viewer on that label
    if (inViewer || thumbnail) compareWith(file);
  });

  fileInput.addEventListener('change', () => {
    const file = fileInput.files[0];
    fileInput.value = '';  // the same file may be chosen again
    compareWith(file);
  });
  blend.addEventListener('input', () => {
    for (const design of body.querySelectorAll('.design')) design.style.opacity = blend.value / 100;
  });
  marks.addEventListener('change', () => {
    for (const box of body.querySelectorAll('.picture')) box.classList.toggle('hide-differences', !marks.checked);
  });
  tolerance.addEventListener('change', () => {
    if (compared) compareWith(compared.file);
  });
  clearButton.addEventListener('click', clearCompare);

  setResult('');
  return {
    // The viewer drew `viewed` (a label at a zoom): a compare made for
    // another label goes, the rulers follow.
    shown(viewed) {
      current = viewed;
      if (compared && (!viewed || compared.labelUrl !== viewed.label.url)) clearCompare();
      overlay();
      queueRulers();
    },
  };
})();
