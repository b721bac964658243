// The audio device's loop: plays the program's ring of 16-bit stereo frames straight out of its shared
// memory, from the first byte to the last and round again, reading the ring's current contents on every turn,
// and adds the bytes it has copied out to a 64-bit count the streaming thread reads. In the test mode it also
// keeps a copy of the first bytes it played and posts it to the page.
'use strict';

// Word offsets in the shared control block (WebAudioShared in platform/web/web_internal.h).
const STOP = 2;   // Int32 index: 1 = the ring may go away
const BUSY = 3;   // Int32 index: 1 while copying out of the ring
const PAUSED = 5; // Int32 index: 1 = play silence, stay where the ring stands, count nothing

class RingProcessor extends AudioWorkletProcessor {
    constructor(options) {
        super();
        const o = options.processorOptions;
        this.ring = new Int16Array(o.memory, o.ring, o.bytes / 2);
        this.played = new BigInt64Array(o.memory, o.shared, 1);
        this.control = new Int32Array(o.memory, o.shared, 6);
        this.cursor = 0;  // Int16 index of the next left sample
        this.capture = o.captureBytes > 0 ? new Int16Array(o.captureBytes / 2) : null;
        this.captured = 0;  // Int16 values kept so far
    }

    process(inputs, outputs) {
        const left = outputs[0][0];
        const right = outputs[0][1];
        const frames = left.length;
        // Busy first, then the stop flag: the main thread sets stop, then waits for busy to clear.
        Atomics.store(this.control, BUSY, 1);
        if (Atomics.load(this.control, STOP) !== 0) {
            Atomics.store(this.control, BUSY, 0);
            left.fill(0);
            right.fill(0);
            return false;
        }
        if (Atomics.load(this.control, PAUSED) !== 0) {
            Atomics.store(this.control, BUSY, 0);
            left.fill(0);
            right.fill(0);
            return true;
        }
        const ring = this.ring;
        const capture = this.capture;
        let cursor = this.cursor;
        for (let i = 0; i < frames; i++) {
            const l = ring[cursor];
            const r = ring[cursor + 1];
            left[i] = l / 32768;
            right[i] = r / 32768;
            if (capture !== null && this.captured < capture.length) {
                capture[this.captured++] = l;
                capture[this.captured++] = r;
            }
            cursor += 2;
            if (cursor >= ring.length) {
                cursor = 0;
            }
        }
        Atomics.store(this.control, BUSY, 0);
        this.cursor = cursor;
        // Counted after the copy: a block counted as played is not read again in this turn.
        Atomics.add(this.played, 0, BigInt(frames * 4));
        if (this.capture !== null && this.captured === this.capture.length) {
            this.port.postMessage({capture: this.capture.buffer}, [this.capture.buffer]);
            this.capture = null;
        }
        return true;
    }
}

registerProcessor('tarnwick-ring', RingProcessor);
