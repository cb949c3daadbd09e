// The window's side on the browser's main thread (web_window.cpp, page_main.cpp):
// each call hands its effect to Module.korvanePage, which korvane.js provides.
mergeInto(LibraryManager.library, {
  korvane_page_ready__proxy: 'sync',
  korvane_page_ready: function(panel) { Module.korvanePage.ready(JSON.parse(UTF8ToString(panel))); },
  korvane_page_closed__proxy: 'sync',
  korvane_page_closed: function() { Module.korvanePage.closed(); },
  korvane_page_log__proxy: 'sync',
  korvane_page_log: function(text) { Module.korvanePage.log(UTF8ToString(text)); },
  korvane_page_scroll_log__proxy: 'sync',
  korvane_page_scroll_log: function() { Module.korvanePage.scrollLog(); },
  korvane_page_progress__proxy: 'sync',
  korvane_page_progress: function(low, high, position, enabled) {
    Module.korvanePage.progress(low, high, position, enabled !== 0);
  },
  korvane_page_button__proxy: 'sync',
  korvane_page_button: function(id, text, visible) {
    Module.korvanePage.button(id, text ? UTF8ToString(text) : null, visible);
  },
  korvane_page_cursor__proxy: 'sync',
  korvane_page_cursor: function(wait) { Module.korvanePage.cursor(wait !== 0); },
  // Shows the dialog and returns; the answer comes through _korvane_page_device.
  korvane_page_choose_device__proxy: 'sync',
  korvane_page_choose_device: function(entries, path) {
    var list = UTF8ToString(entries).split('\n');
    list.pop();
    Module.korvanePage.chooseDevice(list, UTF8ToString(path));
  },
  korvane_page_ask__proxy: 'sync',
  korvane_page_ask: function(caption, text) {
    return Module.korvanePage.ask(UTF8ToString(caption), UTF8ToString(text)) ? 1 : 0;
  },
});
