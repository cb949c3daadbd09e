// The log control's side of the log: a read-only text widget whose text is
// always the log buffer's, with the buffer's own character positions (every
// CR and every LF counts) mapped onto the widget, where a CR LF pair is one
// line break.
//
// A mirror of the raw text is kept; a change re-renders only the text from
// the changed position on, so an append costs the new text, never the log.
// Window thread only.
#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

class QPlainTextEdit;

namespace korvane {

class LogView {
 public:
  explicit LogView(QPlainTextEdit* edit) : edit_(edit) {}

  void SetSelection(std::size_t from, std::size_t to);
  void ReplaceSelection(std::string_view text);
  void ScrollCaret();

  const std::string& RawText() const { return raw_; }

  // What the widget shows for a raw text: CR LF and a lone LF break the line,
  // a lone CR shows nothing.
  static QString Display(std::string_view raw);

 private:
  QPlainTextEdit* edit_;
  std::string raw_;
  std::size_t selFrom_ = 0;
  std::size_t selTo_ = 0;
  int displayLength_ = 0;  // the widget's text length
  int caret_ = 0;          // in widget positions
};

}  // namespace korvane
