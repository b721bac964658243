// The audio device's loop: plays the program's ring of 16-bit stereo frames from the first byte to the last
// and round again, and counts the bytes it has read out of it. With shared memory it reads the ring straight
// out of the program's memory, its count and control words there too; without, it keeps a copy of the ring
// that the page updates by message, and reports its count by message.
//
// It plays each block of the ring once: the program says which stretch of play positions holds contents it
// wrote since the loop last passed there, and where the loop is outside that stretch (the mixing held back,
// a frozen tab) it plays silence instead, moving on as a device does, and counts the starved quanta. Where
// the context's rate is not the ring's, it converts the rate (cubic interpolation), so the song keeps its
// pitch and speed. Every few quanta it posts its count, the starved quanta, how far the new contents reached
// ahead of it at the least and, in the test mode, a copy of the first seconds it played.
'use strict';

// Byte offsets of the shared control words (WebAudioShared in platform/web/web_internal.h).
const PLAYED = 0;        // BigInt64: bytes read out of the ring
const FRESH_START = 8;   // BigInt64: play positions (bytes) from here...
const FRESH_END = 16;    // ...to here hold new contents
const STOP = 24;         // Int32: 1 = the ring may go away
const BUSY = 28;         // Int32: 1 while reading the ring
const PAUSED = 36;       // Int32: 1 = play silence, stay where the ring stands, count nothing
// Quanta between two reports to the page.
const REPORT_QUANTA = 4;

class RingProcessor extends AudioWorkletProcessor {
    constructor(options) {
        super();
        const o = options.processorOptions;
        this.shared = o.memory !== undefined;
        if (this.shared) {
            this.ring = new Int16Array(o.memory, o.ring, o.bytes / 2);
            this.words64 = new BigInt64Array(o.memory, o.shared, 3);
            this.words32 = new Int32Array(o.memory, o.shared, 10);
        } else {
            this.ring = new Int16Array(o.ringCopy);
            this.stopped = false;
            this.paused = false;
            this.freshStart = 0;
            this.freshEnd = o.bytes;
            this.port.onmessage = event => this.take(event.data);
        }
        this.ringFrames = o.bytes / 4;
        // Source frames per output frame.
        this.step = o.rate / sampleRate;
        // The last four source frames read (left and right), the oldest first, and where the output stands
        // between the second and the third (0..1).
        this.history = new Float32Array(8);
        this.phase = 0;
        this.framesRead = 0;   // source frames read so far: the count reported as played
        this.starved = 0;
        this.leastAhead = Infinity;   // bytes
        this.quanta = 0;
        this.capture = o.captureBytes > 0 ? new Int16Array(o.captureBytes / 2) : null;
        this.captured = 0;
    }

    // A message of the page (without shared memory): blocks mixed again with the stretch of new contents they
    // make, a pause, a stop.
    take(data) {
        if (data.written !== undefined) {
            for (const part of data.written) {
                this.ring.set(new Int16Array(part.data), part.offset / 2);
            }
            this.freshStart = data.freshStart;
            this.freshEnd = data.freshEnd;
        }
        if (data.paused !== undefined) {
            this.paused = data.paused;
        }
        if (data.stop) {
            this.stopped = true;
        }
    }

    // Reads source frame `frame` (absolute) into the history; silence where its contents are not new.
    // Returns whether it was.
    readFrame(frame, freshStart, freshEnd) {
        const h = this.history;
        h.copyWithin(0, 2);
        const byte = frame * 4;
        if (byte >= freshStart && byte < freshEnd) {
            const at = (frame % this.ringFrames) * 2;
            h[6] = this.ring[at] / 32768;
            h[7] = this.ring[at + 1] / 32768;
            return true;
        }
        h[6] = 0;
        h[7] = 0;
        return false;
    }

    process(inputs, outputs) {
        const left = outputs[0][0];
        const right = outputs[0][1];
        const frames = left.length;
        // Silence unless the ring is played below.
        left.fill(0);
        right.fill(0);
        let freshStart;
        let freshEnd;
        if (this.shared) {
            // Busy first, then the stop flag: the main thread sets stop, then waits for busy to clear.
            const w = this.words32;
            Atomics.store(w, BUSY / 4, 1);
            if (Atomics.load(w, STOP / 4) !== 0) {
                Atomics.store(w, BUSY / 4, 0);
                return false;
            }
            if (Atomics.load(w, PAUSED / 4) !== 0) {
                Atomics.store(w, BUSY / 4, 0);
                return true;
            }
            // The end first: the program writes the start first, so a new end comes with its start.
            freshEnd = Number(Atomics.load(this.words64, FRESH_END / 8));
            freshStart = Number(Atomics.load(this.words64, FRESH_START / 8));
        } else {
            if (this.stopped) {
                return false;
            }
            if (this.paused) {
                return true;
            }
            freshStart = this.freshStart;
            freshEnd = this.freshEnd;
        }
        const h = this.history;
        const step = this.step;
        let phase = this.phase;
        let read = this.framesRead;
        let stale = false;
        if (read === 0) {
            // The output starts on frame 0: frames 0, 1 and 2 come before it, silence before them.
            for (let i = 0; i < 3; i++) {
                stale = !this.readFrame(read++, freshStart, freshEnd) || stale;
            }
        }
        for (let i = 0; i < frames; i++) {
            // Four-point cubic (Hermite) between history frames 1 and 2; at the ring's own rate the phase stays
            // 0 and each output frame is a source frame exactly.
            const t = phase;
            for (let c = 0; c < 2; c++) {
                const y0 = h[c];
                const y1 = h[2 + c];
                const y2 = h[4 + c];
                const y3 = h[6 + c];
                const a = (3 * (y1 - y2) - y0 + y3) * 0.5;
                const b = 2 * y2 + y0 - (5 * y1 + y3) * 0.5;
                const d = (y2 - y0) * 0.5;
                const value = ((a * t + b) * t + d) * t + y1;
                if (c === 0) {
                    left[i] = value;
                } else {
                    right[i] = value;
                }
            }
            phase += step;
            while (phase >= 1) {
                phase -= 1;
                stale = !this.readFrame(read++, freshStart, freshEnd) || stale;
            }
        }
        this.phase = phase;
        this.framesRead = read;
        if (this.shared) {
            Atomics.store(this.words32, BUSY / 4, 0);
            // Counted after the reads: a block counted as played is not read again in this turn.
            Atomics.store(this.words64, PLAYED / 8, BigInt(read * 4));
        }
        if (stale) {
            this.starved++;
        }
        // How far the new contents reach past what has been read, at the least since the last report.
        this.leastAhead = Math.min(this.leastAhead, freshEnd - read * 4);
        this.keep(left, right, frames);
        if (++this.quanta % REPORT_QUANTA === 0) {
            this.port.postMessage({played: read * 4, starved: this.starved, ahead: Math.max(0, this.leastAhead)});
            this.leastAhead = Infinity;
        }
        return true;
    }

    // The test mode's copy of the first seconds played, as 16-bit frames at the context's rate.
    keep(left, right, frames) {
        const capture = this.capture;
        if (capture === null) {
            return;
        }
        for (let i = 0; i < frames && this.captured < capture.length; i++) {
            capture[this.captured++] = Math.max(-32768, Math.min(32767, Math.round(left[i] * 32768)));
            capture[this.captured++] = Math.max(-32768, Math.min(32767, Math.round(right[i] * 32768)));
        }
        if (this.captured === capture.length) {
            this.port.postMessage({capture: capture.buffer, rate: sampleRate}, [capture.buffer]);
            this.capture = null;
        }
    }
}

registerProcessor('tarnwick-ring', RingProcessor);
