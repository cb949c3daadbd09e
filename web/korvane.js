// The page around the engine: asks for Web MIDI with SysEx, then loads the
// engine (korvane-update.js) and shows what its window calls ask for
// (page_lib.js calls Module.korvanePage). The engine decides everything;
// this file only draws and forwards clicks, files and device changes.
'use strict';

var Module = {};

(function () {
  var $ = function (id) { return document.getElementById(id); };
  var engineReady = false;
  var pendingFile = null;  // a dropped or picked file waiting for the engine
  var connected = '';      // the connected ports, to notice a change

  function say(sentence, canRetry) {
    $('notice').textContent = sentence;
    $('notice').hidden = false;
    $('retry').hidden = !canRetry;
  }

  // "&Open": the letter after & is the access key, underlined.
  function setButtonText(button, text) {
    var at = text.indexOf('&');
    button.textContent = '';
    if (at < 0 || at + 1 >= text.length) {
      button.textContent = text;
      button.removeAttribute('accesskey');
      return;
    }
    button.append(text.slice(0, at));
    var u = document.createElement('u');
    u.textContent = text[at + 1];
    button.append(u, text.slice(at + 2));
    button.accessKey = text[at + 1].toLowerCase();
  }

  function paintPanel(ops) {
    var canvas = $('panel');
    var scale = 3 * (window.devicePixelRatio || 1);
    canvas.width = 254 * scale;
    canvas.height = 207 * scale;
    var g = canvas.getContext('2d');
    g.scale(scale, scale);
    var fillStyle = function (f) {
      if (f.kind === 1) return f.colour;
      if (f.kind === 0) return null;
      var gradient = f.kind === 2
        ? g.createLinearGradient(f.start[0], f.start[1], f.end[0], f.end[1])
        : g.createRadialGradient(f.start[0], f.start[1], 0, f.start[0], f.start[1], f.radius);
      f.stops.forEach(function (s) { gradient.addColorStop(Math.min(1, Math.max(0, s[0])), s[1]); });
      return gradient;
    };
    var finish = function (op) {
      var fill = op.fill ? fillStyle(op.fill) : null;
      if (fill) { g.fillStyle = fill; g.fill(); }
      if (op.pen) {
        g.strokeStyle = op.pen.colour;
        g.lineWidth = op.pen.width;
        g.lineCap = op.pen.round ? 'round' : 'square';
        g.stroke();
      }
    };
    var font = function (s) {
      g.font = (s.bold ? 'bold ' : '') + s.size + 'px sans-serif';
      g.fillStyle = s.colour;
      if ('letterSpacing' in g) g.letterSpacing = s.spacing + 'px';
    };
    ops.forEach(function (op) {
      g.beginPath();
      switch (op.op) {
        case 'rect': g.rect(op.rect[0], op.rect[1], op.rect[2], op.rect[3]); finish(op); break;
        case 'round':
          if (g.roundRect) g.roundRect(op.rect[0], op.rect[1], op.rect[2], op.rect[3], op.radius);
          else g.rect(op.rect[0], op.rect[1], op.rect[2], op.rect[3]);
          finish(op);
          break;
        case 'ellipse': g.ellipse(op.centre[0], op.centre[1], op.rx, op.ry, 0, 0, 2 * Math.PI); finish(op); break;
        case 'line': g.moveTo(op.from[0], op.from[1]); g.lineTo(op.to[0], op.to[1]); finish(op); break;
        case 'text': font(op.style); g.textAlign = 'left'; g.textBaseline = 'alphabetic';
          g.fillText(op.text, op.at[0], op.at[1]); break;
        case 'centred': font(op.style); g.textAlign = 'center'; g.textBaseline = 'middle';
          g.fillText(op.text, op.rect[0] + op.rect[2] / 2, op.rect[1] + op.rect[3] / 2); break;
      }
    });
  }

  // Writes the file into the engine's file system and presses Open, whose
  // file dialog then answers with it.
  function giveFile(file) {
    if (!engineReady || $('button-1012').hidden) { pendingFile = file; return; }
    pendingFile = null;
    file.arrayBuffer().then(function (buffer) {
      var path = '/files/' + file.name.replace(/\//g, '_');
      try { Module.FS.mkdir('/files'); } catch (e) { /* already there */ }
      Module.FS.writeFile(path, new Uint8Array(buffer));
      var bytes = Module.lengthBytesUTF8(path) + 1;
      var at = Module._malloc(bytes);
      Module.stringToUTF8(path, at, bytes);
      Module._korvane_page_file(at);
      Module._free(at);
      Module._korvane_page_click(1012);
    });
  }

  var page = {
    logText: '',
    ended: false,
    ready: function (panel) {
      paintPanel(panel);
      engineReady = true;
      if (pendingFile) giveFile(pendingFile);
    },
    closed: function () {
      page.ended = true;
      say('Korvane Update has ended; reload the page to start it again.', false);
      document.querySelectorAll('.push').forEach(function (b) { b.hidden = true; });
      window.close();
    },
    log: function (text) {
      page.logText = text;
      $('log').value = text;
    },
    scrollLog: function () { $('log').scrollTop = $('log').scrollHeight; },
    progress: function (low, high, position, enabled) {
      var bar = $('progress');
      bar.max = Math.max(1, high - low);
      bar.value = position - low;
      bar.classList.toggle('disabled', !enabled);
    },
    button: function (id, text, visible) {
      var button = $('button-' + id);
      if (!button) return;
      if (text !== null) setButtonText(button, text);
      if (visible >= 0) button.hidden = visible === 0;
    },
    cursor: function (wait) { document.body.classList.toggle('wait', wait); },
    chooseDevice: function (entries, path) {
      var list = $('device-list');
      list.textContent = '';
      entries.forEach(function (entry) { list.add(new Option(entry)); });
      $('device-file').textContent = path;
      var dialog = $('device-dialog');
      dialog.returnValue = '';
      dialog.showModal();
      list.focus();
    },
    ask: function (caption, text) { return window.confirm(caption + '\n\n' + text); },
  };
  Module.korvanePage = page;

  $('device-dialog').addEventListener('close', function () {
    var accepted = $('device-dialog').returnValue === 'ok';
    // OK with no entry selected takes the first, as the desktop dialogs do.
    var index = accepted ? Math.max(0, $('device-list').selectedIndex) : -1;
    Module._korvane_page_device(index);
  });
  $('device-list').addEventListener('keydown', function (e) {
    if (e.key === 'Enter') { e.preventDefault(); $('device-dialog').close('ok'); }
  });
  $('device-list').addEventListener('dblclick', function () { $('device-dialog').close('ok'); });
  $('about-button').addEventListener('click', function () { $('about-dialog').showModal(); });

  $('button-1012').addEventListener('click', function () {
    if (pendingFile) giveFile(pendingFile);
    else $('file').click();
  });
  [1011, 1008].forEach(function (id) {
    $('button-' + id).addEventListener('click', function () { Module._korvane_page_click(id); });
  });
  $('file').addEventListener('change', function () {
    var file = $('file').files[0];
    $('file').value = '';
    if (file) giveFile(file);
  });
  var win = $('window');
  win.addEventListener('dragover', function (e) { e.preventDefault(); win.classList.add('dragging'); });
  win.addEventListener('dragleave', function () { win.classList.remove('dragging'); });
  win.addEventListener('drop', function (e) {
    e.preventDefault();
    win.classList.remove('dragging');
    var file = e.dataTransfer.files[0];
    if (file) giveFile(file);
  });

  function portsNow(access) {
    var ids = [];
    [access.inputs, access.outputs].forEach(function (map) {
      map.forEach(function (port) { if (port.state === 'connected') ids.push(port.id); });
    });
    return ids.sort().join('\n');
  }

  function loadEngine(access) {
    Module.korvaneMidiAccess = access;
    connected = portsNow(access);
    // A port opened by this page changes its connection, not the list: only
    // ports that come or go count, as a rescan would see them.
    access.onstatechange = function () {
      var now = portsNow(access);
      if (now === connected) return;
      connected = now;
      if (engineReady) Module._korvane_page_devices_changed();
    };
    var script = document.createElement('script');
    script.src = 'korvane-update.js';
    document.body.appendChild(script);
  }

  function start() {
    $('notice').hidden = true;
    $('retry').hidden = true;
    if (!navigator.requestMIDIAccess) {
      say('This browser has no Web MIDI, so Korvane Update cannot reach a controller from it; ' +
          'use Chrome, Edge or Opera.', false);
      return;
    }
    if (!window.crossOriginIsolated) {
      say('This page was served without the two cross-origin isolation headers it needs, ' +
          'so Korvane Update cannot start here.', false);
      return;
    }
    navigator.requestMIDIAccess({sysex: true}).then(loadEngine, function (error) {
      if (error && error.name !== 'SecurityError' && error.name !== 'NotAllowedError') {
        say('The browser could not reach this computer\'s MIDI system (' + error.message +
            '), so nothing was sent; press Try again once it is there.', true);
        return;
      }
      say('The browser did not allow this page to send SysEx to MIDI devices, so nothing ' +
          'was sent; allow it in the site settings and press Try again.', true);
    });
  }
  $('retry').addEventListener('click', start);
  start();
})();
