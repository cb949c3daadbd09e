#include "app/qt/log_view.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>

namespace korvane {

QString LogView::Display(std::string_view raw) {
  std::string shown;
  shown.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\r') {
      if (i + 1 < raw.size() && raw[i + 1] == '\n') {
        shown += '\n';
        ++i;
      }
      continue;
    }
    shown += c;
  }
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

void LogView::SetSelection(std::size_t from, std::size_t to) {
  selFrom_ = std::min(from, raw_.size());
  selTo_ = std::min(std::max(to, selFrom_), raw_.size());
}

void LogView::ReplaceSelection(std::string_view text) {
  // Re-render from a position that splits no CR LF pair: there the widget's
  // text is the rendering of the raw prefix followed by that of the tail.
  std::size_t start = selFrom_;
  if (start > 0 && raw_[start - 1] == '\r')
    --start;
  const int oldTail = static_cast<int>(Display(std::string_view(raw_).substr(start)).size());
  const int renderFrom = displayLength_ - oldTail;

  raw_.replace(selFrom_, selTo_ - selFrom_, text);
  const std::size_t caretRaw = selFrom_ + text.size();
  const QString newTail = Display(std::string_view(raw_).substr(start));

  QTextCursor cursor(edit_->document());
  cursor.setPosition(renderFrom);
  cursor.setPosition(displayLength_, QTextCursor::KeepAnchor);
  if (newTail.isEmpty()) {
    cursor.removeSelectedText();
  } else {
    cursor.insertText(newTail);
  }
  displayLength_ = renderFrom + static_cast<int>(newTail.size());
  caret_ = renderFrom +
           static_cast<int>(Display(std::string_view(raw_).substr(start, caretRaw - start)).size());
  caret_ = std::min(caret_, displayLength_);
  selFrom_ = selTo_ = caretRaw;
}

void LogView::ScrollCaret() {
  QTextCursor cursor(edit_->document());
  cursor.setPosition(caret_);
  edit_->setTextCursor(cursor);
  edit_->ensureCursorVisible();
}

}  // namespace korvane
