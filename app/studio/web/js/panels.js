// The panels: brush presets and fields, dynamics, smoothing, paint, clone and symmetry.
// They hold the tool as the server's "tool" message takes it; the server checks every
// value with the engine's own rules and answers an error for one it refuses.

const $ = (id) => document.getElementById(id);

// The description's defaults for a field a preset leaves out (README.md).
const BRUSH_DEFAULTS = {
  diameter: 30, hardness: 0.8, roundness: 1, angle: 0, spacing: 0.25, opacity: 1, flow: 1,
  stabiliser: 0, dither: false, accumulate: 'build-up', smoothing: 'none',
};

const FIELDS = [
  { key: 'diameter', label: 'Diameter', min: 1, max: 400, step: 1, limit: 10000 },
  { key: 'hardness', label: 'Hardness', min: 0, max: 1, step: 0.01 },
  { key: 'roundness', label: 'Roundness', min: 0, max: 1, step: 0.01 },
  { key: 'angle', label: 'Angle', min: -180, max: 180, step: 1 },
  { key: 'spacing', label: 'Spacing', min: 0.01, max: 1, step: 0.01, limit: 100 },
  { key: 'opacity', label: 'Opacity', min: 0, max: 1, step: 0.01 },
  { key: 'flow', label: 'Flow', min: 0, max: 1, step: 0.01 },
];

const FACTORS = ['diameter', 'opacity', 'flow', 'angle', 'roundness'];
// Each input's range: a mapping here is a straight line across it.
const INPUTS = {
  pressure: [0, 1], tiltX: [-90, 90], tiltY: [-90, 90], twist: [0, 360],
  speed: [0, 3000], direction: [-180, 180], random: [0, 1],
};
const DEFAULT_DYNAMICS = {
  diameter: { input: 'pressure', curve: [[0, 0.2], [1, 1]] },
  flow: { input: 'pressure', curve: [[0, 0], [1, 1]] },
};
const TRANSFERS = ['', 'normal', 'copy', 'dissolve', 'add', 'multiply', 'screen', 'overlay',
  'darken', 'lighten', 'difference', 'erase'];

/** A slider with a number beside it; `onChange` hears every change. */
function field(parent, def, onChange) {
  const row = document.createElement('div');
  row.className = 'field';
  row.innerHTML = `<span>${def.label}</span><input type="range"><input type="number">`;
  const [range, number] = row.querySelectorAll('input');
  for (const input of [range, number]) {
    input.min = def.min;
    input.step = def.step;
    input.max = def.max;
    input.id = `${def.key}-${input.type}`;
  }
  if (def.limit) number.max = def.limit;
  range.addEventListener('input', () => { number.value = range.value; onChange(); });
  number.addEventListener('change', () => { range.value = number.value; onChange(); });
  parent.appendChild(row);
  return {
    get value() { return Number(number.value); },
    set value(v) { number.value = v; range.value = v; },
  };
}

export class Panels {
  constructor(onTool) {
    this.onTool = onTool;
    this.presets = [];
    this.fields = {};
    const changed = () => this.changed();
    for (const def of FIELDS) this.fields[def.key] = field($('brush-fields'), def, changed);
    this.fields.stabiliser = field($('stabiliser-field'),
      { key: 'stabiliser', label: 'Stabiliser', min: 0, max: 0.99, step: 0.01 }, changed);
    this.alpha = field($('alpha-field'), { key: 'alpha', label: 'Alpha', min: 0, max: 1, step: 0.01 }, changed);
    this.alpha.value = 1;
    for (const t of TRANSFERS) {
      const o = document.createElement('option');
      o.value = t;
      o.textContent = t || "the brush's";
      $('transfer').appendChild(o);
    }
    this.dynamics = {};
    for (const f of FACTORS) this.dynamics[f] = this.dynamicsRow(f, changed);
    for (const id of ['accumulate', 'dither', 'smoothing', 'source', 'colour', 'transfer', 'channels',
      'mirror', 'rotate', 'centre-x', 'centre-y', 'dyn-custom']) {
      $(id).addEventListener('change', changed);
    }
    $('dyn-custom').addEventListener('change', () => this.showDynamics());
    $('preset').addEventListener('change', () => { this.usePreset($('preset').value); this.changed(); });
  }

  dynamicsRow(factor, onChange) {
    const row = document.createElement('div');
    row.className = 'dyn';
    row.innerHTML = `<span>${factor}</span><select></select>
      <span class="ends"><input type="number" step="0.05" title="factor at the input's low end">
      <input type="number" step="0.05" title="factor at the input's high end"></span>`;
    const select = row.querySelector('select');
    for (const name of ['', ...Object.keys(INPUTS)]) {
      const o = document.createElement('option');
      o.value = name;
      o.textContent = name || 'none';
      select.appendChild(o);
    }
    const [low, high] = row.querySelectorAll('input');
    select.id = `dyn-${factor}`;
    for (const e of [select, low, high]) e.addEventListener('change', onChange);
    $('dynamics').appendChild(row);
    return { select, low, high };
  }

  setPresets(presets) {
    this.presets = presets;
    $('preset').innerHTML = '';
    for (const p of presets) {
      const o = document.createElement('option');
      o.value = p.name;
      o.textContent = p.name;
      $('preset').appendChild(o);
    }
    const start = presets.find((p) => p.name === 'round') ? 'round' : presets[0].name;
    $('preset').value = start;
    this.usePreset(start);
    this.changed();
  }

  /** The preset's fields into the panels; the dynamics follow the preset again. */
  usePreset(name) {
    const preset = this.presets.find((p) => p.name === name) || { brush: {} };
    const brush = { ...BRUSH_DEFAULTS, ...preset.brush };
    for (const key of Object.keys(this.fields)) this.fields[key].value = brush[key];
    $('accumulate').value = brush.accumulate;
    $('dither').checked = !!brush.dither;
    $('smoothing').value = brush.smoothing;
    $('transfer').value = preset.transfer || '';
    $('preset-description').textContent = preset.description || '';
    $('dyn-custom').checked = false;
    const dynamics = preset.brush.dynamics || DEFAULT_DYNAMICS;
    for (const f of FACTORS) {
      const m = Array.isArray(dynamics[f]) ? dynamics[f][0] : dynamics[f];
      const row = this.dynamics[f];
      row.select.value = m ? m.input : '';
      row.low.value = m ? m.curve[0][1] : '';
      row.high.value = m ? m.curve[m.curve.length - 1][1] : '';
    }
    this.showDynamics();
  }

  showDynamics() {
    const custom = $('dyn-custom').checked;
    for (const row of Object.values(this.dynamics)) {
      for (const e of [row.select, row.low, row.high]) e.disabled = !custom;
    }
  }

  /** The tool message for the server. */
  tool() {
    const brush = { preset: $('preset').value };
    for (const key of Object.keys(this.fields)) brush[key] = this.fields[key].value;
    brush.accumulate = $('accumulate').value;
    brush.dither = $('dither').checked;
    brush.smoothing = $('smoothing').value;
    if ($('dyn-custom').checked) {
      brush.dynamics = {};
      for (const f of FACTORS) {
        const row = this.dynamics[f];
        if (!row.select.value) continue;
        const [lo, hi] = INPUTS[row.select.value];
        brush.dynamics[f] = { input: row.select.value,
          curve: [[lo, Number(row.low.value) || 0], [hi, Number(row.high.value) || 0]] };
      }
    }
    const hex = $('colour').value;
    const colour = [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16) / 255);
    return {
      type: 'tool',
      brush,
      colour: [...colour, this.alpha.value],
      transfer: $('transfer').value,
      channels: $('channels').value,
      source: $('source').value,
      symmetry: {
        mirror: $('mirror').value,
        rotate: Math.max(1, Math.min(64, Math.round(Number($('rotate').value) || 1))),
        centre: [Number($('centre-x').value), Number($('centre-y').value)],
      },
    };
  }

  changed() { this.onTool(this.tool()); }
}
