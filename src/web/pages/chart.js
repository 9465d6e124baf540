'use strict';
// The activity chart above the history table: events per interval as SVG bars drawn from
// /api/activity. Hovering a bar shows its interval and count; a click on a bar, or a drag over
// several, narrows the range to them. Empty intervals are shaded, so that a device gone quiet
// shows as a gap rather than as a short bar. The Status page draws the same chart, smaller.

const SVG = 'http://www.w3.org/2000/svg';
const CHART_HEIGHT = 150;
const AXIS = 18;  // room under the bars for the times
const PART_COLOURS = ['#1f6feb', '#d97706', '#16a34a', '#9333ea', '#dc2626', '#0891b2',
                      '#65a30d', '#db2777', '#4b5563'];

function svgNode(name, attributes) {
  const node = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  return node;
}

// "2026-12-03 14:00:00" as the page shows a bucket's start.
function bucketLabel(start, bucket) {
  if (bucket === 'day' || bucket === 'week') return start.slice(0, 10);
  return start.slice(0, 16);
}

class ActivityChart {
  // `box` holds the chart; `onRange(from, to)` hears of a range chosen on it (stored form);
  // `legend` may be null for a chart without a split.
  constructor(box, tip, legend, onRange, { height = CHART_HEIGHT, id = 'chart-svg' } = {}) {
    this.box = box;
    this.height = height;
    this.tip = tip;
    this.legend = legend;
    this.onRange = onRange;
    this.data = null;
    this.drag = null;
    this.svg = svgNode('svg', { id, role: 'img', height });
    this.svg.setAttribute('aria-label', 'Events per interval');
    box.replaceChildren(this.svg);
    this.svg.addEventListener('pointerdown', (e) => this.pointerDown(e));
    this.svg.addEventListener('pointermove', (e) => this.pointerMove(e));
    this.svg.addEventListener('pointerup', (e) => this.pointerUp(e));
    this.svg.addEventListener('pointerleave', () => { this.tip.hidden = true; });
    new ResizeObserver(() => this.draw()).observe(box);
  }

  show(data) {
    this.data = data;
    if (this.legend) this.legend.replaceChildren(...(data.parts || []).map((name, p) => {
      const item = document.createElement('span');
      item.className = 'part';
      const swatch = document.createElement('span');
      swatch.className = 'swatch';
      swatch.style.background = PART_COLOURS[p % PART_COLOURS.length];
      item.append(swatch, document.createTextNode(name || '(none)'));
      return item;
    }));
    this.draw();
  }

  // The bucket under the pointer, by its index.
  indexAt(event) {
    if (!this.data || !this.data.buckets.length) return -1;
    const rect = this.svg.getBoundingClientRect();
    const i = Math.floor((event.clientX - rect.left) / this.step);
    return Math.max(0, Math.min(this.data.buckets.length - 1, i));
  }

  draw() {
    const data = this.data;
    const width = Math.max(this.box.clientWidth, 100);
    this.svg.setAttribute('width', width);
    const height = this.height;
    this.svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    this.svg.replaceChildren();
    if (!data) return;
    const n = data.buckets.length;
    this.step = width / Math.max(n, 1);
    const top = Math.max(1, ...data.buckets.map((b) => b.count));
    const plot = height - AXIS - 14;
    const bars = svgNode('g', { class: 'bars' });
    data.buckets.forEach((b, i) => {
      const x = i * this.step;
      const w = Math.max(1, this.step - (this.step > 4 ? 1 : 0));
      if (b.count === 0) {
        bars.append(svgNode('rect', { x, y: 14, width: this.step, height: plot, class: 'gap' }));
        return;
      }
      let y = 14 + plot;
      const parts = b.parts || [b.count];
      parts.forEach((count, p) => {
        if (!count) return;
        const h = Math.max(1, (count / top) * plot);
        y -= h;
        bars.append(svgNode('rect', {
          x, y, width: w, height: h, class: 'bar',
          fill: b.parts ? PART_COLOURS[p % PART_COLOURS.length] : PART_COLOURS[0],
          'data-start': b.start, 'data-count': count,
        }));
      });
    });
    this.svg.append(bars);
    const text = (x, y, anchor, value) => {
      const t = svgNode('text', { x, y, 'text-anchor': anchor, class: 'axis' });
      t.textContent = value;
      this.svg.append(t);
    };
    text(2, 11, 'start', top.toLocaleString() + ' per ' + data.bucket);
    if (n) {
      text(2, height - 4, 'start', bucketLabel(data.buckets[0].start, data.bucket));
      text(width - 2, height - 4, 'end', bucketLabel(data.buckets[n - 1].start, data.bucket));
    }
    this.svg.append(svgNode('line', { x1: 0, x2: width, y1: 14 + plot, y2: 14 + plot, class: 'base' }));
    this.selection = svgNode('rect', { x: 0, y: 14, width: 0, height: plot, class: 'selection' });
    this.svg.append(this.selection);
  }

  describe(i) {
    const b = this.data.buckets[i];
    const end = i + 1 < this.data.buckets.length ? this.data.buckets[i + 1].start : this.data.to;
    let line = bucketLabel(b.start, this.data.bucket) + ' – ' + bucketLabel(end, this.data.bucket) +
               ': ' + b.count.toLocaleString() + (b.count === 1 ? ' event' : ' events');
    if (b.parts && b.count) {
      line += ' (' + this.data.parts.map((name, p) => [name, b.parts[p]])
        .filter(([, c]) => c).map(([name, c]) => name + ' ' + c.toLocaleString()).join(', ') + ')';
    }
    return line;
  }

  pointerDown(event) {
    const i = this.indexAt(event);
    if (i < 0) return;
    this.drag = { from: i, to: i };
    this.svg.setPointerCapture(event.pointerId);
    this.showSelection();
  }

  pointerMove(event) {
    const i = this.indexAt(event);
    if (i < 0) return;
    this.tip.textContent = this.describe(i);
    this.tip.hidden = false;
    const box = this.box.getBoundingClientRect();
    this.tip.style.left = Math.min(event.clientX - box.left + 12, box.width - 260) + 'px';
    if (this.drag) {
      this.drag.to = i;
      this.showSelection();
    }
  }

  pointerUp(event) {
    if (!this.drag) return;
    const i = this.indexAt(event);
    if (i >= 0) this.drag.to = i;
    const first = Math.min(this.drag.from, this.drag.to);
    const last = Math.max(this.drag.from, this.drag.to);
    this.drag = null;
    this.selection.setAttribute('width', 0);
    const buckets = this.data.buckets;
    const to = last + 1 < buckets.length ? buckets[last + 1].start : this.data.to;
    this.onRange(buckets[first].start, to);
  }

  showSelection() {
    const first = Math.min(this.drag.from, this.drag.to);
    const last = Math.max(this.drag.from, this.drag.to);
    this.selection.setAttribute('x', first * this.step);
    this.selection.setAttribute('width', (last - first + 1) * this.step);
  }
}

// Adds the counts of `more` (a later piece of the same range) to `into`; parts by name, so that
// pieces whose busiest parts differ still add up ("other" stays last).
function joinCharts(into, more) {
  if (!into) return more;
  const names = [...(into.parts || [])];
  for (const name of more.parts || []) if (!names.includes(name)) names.push(name);
  const other = names.indexOf('other');
  if (other >= 0) names.push(...names.splice(other, 1));
  const remap = (chart, b) => names.map((name) => {
    const at = (chart.parts || []).indexOf(name);
    return at >= 0 ? b.parts[at] : 0;
  });
  const joined = { ...into, to: more.to, parts: into.parts || more.parts ? names : undefined };
  joined.buckets = [...into.buckets.map((b) => (b.parts ? { ...b, parts: remap(into, b) } : b)),
                    ...more.buckets.map((b) => (b.parts ? { ...b, parts: remap(more, b) } : b))];
  return joined;
}
