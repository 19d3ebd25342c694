// Terminal input: key sequences, bracketed paste and the line editor fed with whatever a terminal
// (or something pretending to be one) may send, and accelerator table text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/accelerators.h"
#include "ui/completion.h"
#include "ui/key_decoder.h"
#include "ui/line_editor.h"
#include "ui/term_text.h"

using namespace vanta::ui;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The first byte chooses how the input is cut into reads.
  const std::size_t step = size ? 1 + data[0] % 7 : 1;
  KeyDecoder decoder;
  LineEditor editor;
  InputHistory history;
  NickCompleter completer;
  const std::vector<std::string> nicks = {"@alice", "+bob", "carol"};
  std::vector<InputEvent> events;
  for (std::size_t pos = 0; pos < size; pos += step) {
    decoder.Feed(bytes.substr(pos, step), events);
    if (data[pos] == 0xFF) decoder.Flush(events);
  }
  decoder.Flush(events);
  for (const InputEvent& e : events) {
    if (e.kind == InputEvent::kPaste) {
      for (const std::string& line : SplitPasteLines(e.paste)) editor.Insert(line);
      continue;
    }
    const Key& k = e.key;
    (void)KeyName(k);
    switch (k.code) {
      case KeyCode::Enter: history.Add(editor.text()); editor.Clear(); break;
      case KeyCode::Tab: completer.Complete(editor, nicks, ": ", ""); break;
      case KeyCode::Backspace: editor.Backspace(); break;
      case KeyCode::Delete: editor.Delete(); break;
      case KeyCode::Left: editor.Left(); break;
      case KeyCode::Right: editor.Right(); break;
      case KeyCode::Home: editor.WordLeft(); break;
      case KeyCode::End: editor.WordRight(); break;
      case KeyCode::Up: {
        std::string line;
        if (history.Older(editor.text(), &line)) editor.Set(line);
        break;
      }
      case KeyCode::Down: {
        std::string line;
        if (history.Newer(&line)) editor.Set(line);
        break;
      }
      case KeyCode::Char:
        if (k.mods & kModCtrl) {
          if (k.ch == 'w') editor.DeleteWordBack();
          else if (k.ch == 'k') editor.KillToEnd();
          else if (k.ch == 'u') editor.KillToStart();
          else if (k.ch == 'y') editor.Yank();
        } else {
          editor.Insert(k.text);
        }
        break;
      default: break;
    }
    if (k.code != KeyCode::Tab) completer.Reset();
    (void)editor.VisibleStart(1 + static_cast<int>(size % 80));
  }
  (void)WrapGlyphs(DecodeGlyphs(editor.text()), 1 + static_cast<int>(size % 50));
  AcceleratorTable table;
  table.Parse(bytes);
  (void)NormaliseKeyName(bytes.substr(0, 40));
  return 0;
}
