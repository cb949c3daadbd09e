// The browser's side of WebMidiServices (webmidi_services.cpp): an emscripten
// JavaScript library whose functions run on the main thread, where Web MIDI
// lives; the engine's thread waits for each. The page sets
// Module.korvaneMidiAccess to the MIDIAccess that requestMIDIAccess({sysex:
// true}) gave before the engine starts.
mergeInto(LibraryManager.library, {
  $KorvaneMidi: {
    listed: {1: [], 0: []},  // the ports of the last count, by device number
    open: {},                // open ports by handle: {port, input, key}
    // The last messages sent and received, with their times, for a look at
    // the browser's own latency (Module.korvaneMidiTrace()).
    trace: [],
    note: function(what, port, data) {
      if (KorvaneMidi.trace.length >= 4000) KorvaneMidi.trace.splice(0, 1000);
      KorvaneMidi.trace.push(performance.now().toFixed(1) + ' ' + what + ' ' + port.name + ' ' +
                             data.length + ' ' + Array.from(data.slice(0, 8), function(b) {
                               return b.toString(16);
                             }).join(' '));
    },
    ports: function(input) {
      var access = Module.korvaneMidiAccess;
      if (!access) return [];
      var list = [];
      (input ? access.inputs : access.outputs).forEach(function(port) {
        if (port.state === 'connected') list.push(port);
      });
      return list;
    },
    // A name another port of the list already has gets "2- ", "3- " before
    // it, as the desktop's device names do; 31 bytes at most.
    names: function(list) {
      var seen = {};
      return list.map(function(port) {
        var name = port.name || port.id;
        var n = (seen[name] || 0) + 1;
        seen[name] = n;
        var full = n > 1 ? n + '- ' + name : name;
        var bytes = new TextEncoder().encode(full);
        return bytes.length > 31 ? new TextDecoder().decode(bytes.slice(0, 31)).replace(/\uFFFD$/, '') : full;
      });
    },
  },

  korvane_webmidi_count__deps: ['$KorvaneMidi'],
  korvane_webmidi_count__postset: 'Module.korvaneMidiTrace = function() { return KorvaneMidi.trace.join("\\n"); };',
  korvane_webmidi_count__proxy: 'sync',
  korvane_webmidi_count: function(input) {
    KorvaneMidi.listed[input] = KorvaneMidi.ports(input);
    return KorvaneMidi.listed[input].length;
  },

  korvane_webmidi_listed__deps: ['$KorvaneMidi'],
  korvane_webmidi_listed__proxy: 'sync',
  korvane_webmidi_listed: function(input) {
    return KorvaneMidi.listed[input].length;
  },

  korvane_webmidi_name__deps: ['$KorvaneMidi'],
  korvane_webmidi_name__proxy: 'sync',
  korvane_webmidi_name: function(input, index, buffer, size) {
    var names = KorvaneMidi.names(KorvaneMidi.listed[input]);
    stringToUTF8(names[index] || '', buffer, size);
  },

  // Starts the open and answers through korvane_webmidi_opened: the port's
  // lock (held by another tab or window, or open here already:
  // MMSYSERR_ALLOCATED, 4), then the port itself (MIDIERR_NODEVICE, 68, when
  // it is gone).
  korvane_webmidi_open__deps: ['$KorvaneMidi', '$KorvaneLocks'],
  korvane_webmidi_open__proxy: 'sync',
  korvane_webmidi_open: function(input, index, handle, slot) {
    var port = KorvaneMidi.listed[input][index];
    if (!port) return 2;  // MMSYSERR_BADDEVICEID
    var key = 'korvane-update:' + (input ? 'in:' : 'out:') + port.id;
    KorvaneLocks.take(key, function(taken) {
      if (!taken) { Module['_korvane_webmidi_opened'](slot, 4); return; }
      KorvaneMidi.open[handle] = {port: port, input: input, key: key};
      if (input) {
        port.onmidimessage = function(event) {
          var data = event.data;
          if (!data || data.length === 0 || data[0] !== 0xF0) return;
          KorvaneMidi.note('in', port, data);
          var at = _malloc(data.length);
          HEAPU8.set(data, at);
          Module['_korvane_webmidi_receive'](handle, at, data.length);
          _free(at);
        };
      }
      port.open().then(function() { Module['_korvane_webmidi_opened'](slot, 0); }, function() {
        delete KorvaneMidi.open[handle];
        if (input) port.onmidimessage = null;
        KorvaneLocks.give(key);
        Module['_korvane_webmidi_opened'](slot, 68);
      });
    });
    return 0;
  },

  // Stops the port's messages and gives its lock back. The port itself stays
  // open in the browser: an output's close may drop what is still on its way.
  korvane_webmidi_close__deps: ['$KorvaneMidi', '$KorvaneLocks'],
  korvane_webmidi_close__proxy: 'sync',
  korvane_webmidi_close: function(handle) {
    var entry = KorvaneMidi.open[handle];
    if (!entry) return;
    delete KorvaneMidi.open[handle];
    if (entry.input) entry.port.onmidimessage = null;
    KorvaneLocks.give(entry.key);
  },

  // One Web Lock per port, across the page's tabs and windows. A lock given
  // back is kept a moment, so that the engine's close and open of the same
  // port (a transfer reopens its input) find it free at once: a lock's
  // release completes only after the call that asked for it has returned.
  $KorvaneLocks: {
    held: {},  // key: {users, timer, release, done}
    take: function(key, then) {
      var held = KorvaneLocks.held[key];
      if (held && held.users > 0) { then(false); return; }
      if (held && held.timer !== null) {
        clearTimeout(held.timer);
        held.timer = null;
        held.users = 1;
        then(true);
        return;
      }
      var start = function() {
        if (!navigator.locks) { then(false); return; }
        var entry = {users: 0, timer: null, release: null, done: null};
        entry.done = navigator.locks.request(key, {ifAvailable: true}, function(lock) {
          if (!lock) { then(false); return undefined; }
          entry.users = 1;
          KorvaneLocks.held[key] = entry;
          var kept = new Promise(function(resolve) { entry.release = resolve; });
          then(true);
          return kept;
        }).then(function() {
          if (KorvaneLocks.held[key] === entry) delete KorvaneLocks.held[key];
        }, function() { then(false); });
      };
      // Given back and on its way out: asked for again once it is out.
      if (held) held.done.then(start); else start();
    },
    give: function(key) {
      var held = KorvaneLocks.held[key];
      if (!held || held.users === 0) return;
      held.users = 0;
      held.timer = setTimeout(function() { held.timer = null; held.release(); }, 1000);
    },
  },

  korvane_webmidi_send__deps: ['$KorvaneMidi'],
  korvane_webmidi_send__proxy: 'sync',
  korvane_webmidi_send: function(handle, data, length) {
    var entry = KorvaneMidi.open[handle];
    if (!entry || entry.port.state !== 'connected') return 1;
    try {
      // A copy: the engine's memory is shared, which send does not take.
      var bytes = HEAPU8.slice(data, data + length);
      entry.port.send(bytes);
      KorvaneMidi.note('out', entry.port, bytes);
      return 0;
    } catch (e) {
      return 1;
    }
  },
});
