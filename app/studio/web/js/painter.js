// Painting on the canvas: pointer samples go to the server in batches, one batch per
// animation frame and one batch in flight at a time, and the pixels that come back are
// drawn as they are. The picture is the engine's; nothing is drawn here but its pixels.

/** The pointer's samples in a stroke's own time (seconds from its first sample). */
function sampleOf(event, box, start, last, pen) {
  let t = (event.timeStamp - start) / 1000;
  // Coalesced samples may share a time stamp; the engine wants time to move on.
  if (t <= last) t = last + 1e-4;
  return [
    t,
    (event.clientX - box.left) / box.width,
    (event.clientY - box.top) / box.height,
    pen ? Math.min(1, Math.max(0, event.pressure)) : null,
    Math.max(-90, Math.min(90, event.tiltX || 0)),
    Math.max(-90, Math.min(90, event.tiltY || 0)),
    ((event.twist || 0) % 360 + 360) % 360,
  ];
}

export class Painter {
  constructor(canvas, connection, hooks) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d');
    this.connection = connection;
    this.hooks = hooks;           // onAltClick(x, y), onStrokeEnd()
    this.nextStroke = 1;
    this.stroke = null;           // the stroke being painted
    this.latencies = [];          // pointer event to its pixels drawn, milliseconds
    this.serverTimes = [];        // the server's render time per batch
    canvas.addEventListener('pointerdown', (e) => this.down(e));
    // pointerrawupdate comes as the pointer moves; pointermove waits for the next animation
    // frame, which would add up to a frame to every sample's way to the screen.
    const raw = 'onpointerrawupdate' in window;
    canvas.addEventListener(raw ? 'pointerrawupdate' : 'pointermove', (e) => this.move(e));
    canvas.addEventListener('pointerup', (e) => this.up(e));
    canvas.addEventListener('pointercancel', (e) => this.up(e));
    canvas.addEventListener('lostpointercapture', (e) => this.up(e));
  }

  get painting() { return this.stroke !== null; }

  down(event) {
    if (event.button !== 0 || this.stroke) return;
    const box = this.canvas.getBoundingClientRect();
    if (event.altKey) {
      this.hooks.onAltClick((event.clientX - box.left) / box.width, (event.clientY - box.top) / box.height);
      return;
    }
    event.preventDefault();
    this.canvas.setPointerCapture(event.pointerId);
    this.stroke = {
      id: this.nextStroke++,
      pointer: event.pointerId,
      // A pen's pressure feeds the dynamics; a mouse or a finger paints at pressure 1.
      pen: event.pointerType === 'pen',
      box,
      start: event.timeStamp,
      last: -1,
      pending: [],
      pendingEvents: [],   // time stamps of the pointer events behind the pending samples
      inFlight: new Map(), // batch → time stamps of its pointer events
      seq: 0,
      ended: false,
      frame: 0,
    };
    this.connection.send({ type: 'begin', stroke: this.stroke.id });
    this.add([event], event.timeStamp);
  }

  move(event) {
    const s = this.stroke;
    if (!s || event.pointerId !== s.pointer || s.ended) return;
    // Chromium gives no coalesced samples for events the DevTools protocol dispatches.
    const coalesced = event.getCoalescedEvents ? event.getCoalescedEvents() : [];
    this.add(coalesced.length ? coalesced : [event], event.timeStamp);
  }

  up(event) {
    const s = this.stroke;
    if (!s || event.pointerId !== s.pointer || s.ended) return;
    s.ended = true;
    this.flush(true);
    this.connection.send({ type: 'end', stroke: s.id });
  }

  add(events, stamp) {
    const s = this.stroke;
    for (const e of events) {
      const sample = sampleOf(e, s.box, s.start, s.last, s.pen);
      s.last = sample[0];
      s.pending.push(sample);
    }
    s.pendingEvents.push(stamp);
    // Pointer moves come once per animation frame, their samples coalesced: with no
    // batch in flight they go at once; else when the batch before is drawn, or next frame.
    if (!s.inFlight.size) this.flush(false);
    else if (!s.frame) s.frame = requestAnimationFrame(() => { s.frame = 0; this.flush(false); });
  }

  // Sends what is pending: each animation frame, as soon as the batch before is drawn,
  // and at the end of the stroke.
  flush(force) {
    const s = this.stroke;
    if (!s || !s.pending.length || (!force && s.inFlight.size)) return;
    const seq = s.seq++;
    this.connection.send({ type: 'samples', stroke: s.id, seq, events: s.pending });
    s.inFlight.set(seq, s.pendingEvents);
    s.pending = [];
    s.pendingEvents = [];
  }

  /** Pixels of a stroke's batch (b is the batch, or 2^32 − 1 for the stroke's end). */
  patch(p) {
    if (p.pixels) this.context.putImageData(p.pixels, p.left, p.top);
    const s = this.stroke;
    if (!s || p.a !== s.id) return;
    const drawn = performance.now();
    const stamps = s.inFlight.get(p.b);
    if (stamps) {
      for (const t of stamps) this.latencies.push(drawn - t);
      this.serverTimes.push(p.milliseconds);
      s.inFlight.delete(p.b);
    }
    if (p.b === 0xffffffff) {
      this.stroke = null;
      this.hooks.onStrokeEnd();
    } else if (!s.ended) {
      this.flush(false);
    }
  }

  /** The whole picture, or a replay's frame. */
  draw(p) {
    if (p.kind === 2 && (this.canvas.width !== p.width || this.canvas.height !== p.height)) {
      this.canvas.width = p.width;
      this.canvas.height = p.height;
    }
    if (p.pixels) this.context.putImageData(p.pixels, p.left, p.top);
  }
}
