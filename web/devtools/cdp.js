// Chromium's DevTools protocol over --remote-debugging-pipe: the browser
// reads commands on its fd 3 and writes answers and events on its fd 4, each
// a JSON text ended by a NUL byte. No package needed.
'use strict';
const {spawn} = require('child_process');

class Browser {
  constructor(binary, args) {
    this.child = spawn(binary, ['--remote-debugging-pipe', ...args],
                       {stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe']});
    this.stderr = '';
    this.child.stderr.on('data', (d) => { this.stderr = (this.stderr + d).slice(-20000); });
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffer = Buffer.alloc(0);
    this.child.stdio[4].on('data', (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      let end;
      while ((end = buffer.indexOf(0)) >= 0) {
        const message = JSON.parse(buffer.subarray(0, end).toString('utf8'));
        buffer = buffer.subarray(end + 1);
        this.dispatch(message);
      }
    });
    this.exited = new Promise((resolve) => this.child.on('exit', resolve));
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const waiter = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (!waiter) return;
      if (message.error) waiter.reject(new Error(`${waiter.method}: ${message.error.message}`));
      else waiter.resolve(message.result);
      return;
    }
    for (const listener of [...this.listeners]) listener(message);
  }

  // A command's answer; an error when none comes within ms, so that a
  // browser that stops answering fails a check instead of hanging it.
  send(method, params = {}, sessionId = undefined, ms = 120000) {
    const id = this.nextId++;
    const message = {id, method, params};
    if (sessionId) message.sessionId = sessionId;
    this.child.stdio[3].write(JSON.stringify(message) + '\0');
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`${method}: no answer within ${ms} ms`));
      }, ms);
      const done = (f) => (value) => { clearTimeout(timer); f(value); };
      this.pending.set(id, {resolve: done(resolve), reject: done(reject), method});
    });
  }

  // The first event that passes test, within ms.
  waitFor(test, ms, what) {
    return new Promise((resolve, reject) => {
      const listener = (message) => {
        if (!test(message)) return;
        this.listeners = this.listeners.filter((l) => l !== listener);
        clearTimeout(timer);
        resolve(message);
      };
      const timer = setTimeout(() => {
        this.listeners = this.listeners.filter((l) => l !== listener);
        reject(new Error(`no ${what} within ${ms} ms`));
      }, ms);
      this.listeners.push(listener);
    });
  }

  close() {
    this.child.kill('SIGKILL');
    return this.exited;
  }
}

module.exports = {Browser};
