// SPDX-License-Identifier: BSD-2-Clause
#include "platform/headless/headless.h"

#include <algorithm>
#include <map>

#include "platform/raster.h"
#include "varnic/rules.h"

namespace varnic::platform {

namespace {

class HeadlessMenu final : public Menu {
 public:
  explicit HeadlessMenu(const MenuTemplate& menu) {
    for (const auto& popup : menu.popups) add(popup);
  }
  void set_enabled(int command, bool enabled) override {
    if (auto it = items_.find(command); it != items_.end()) it->second.enabled = enabled;
  }
  bool is_enabled(int command) const override {
    auto it = items_.find(command);
    return it != items_.end() && it->second.enabled;
  }
  void set_checked(int command, bool checked) override {
    if (auto it = items_.find(command); it != items_.end()) it->second.checked = checked;
  }
  bool is_checked(int command) const override {
    auto it = items_.find(command);
    return it != items_.end() && it->second.checked;
  }

 private:
  struct State {
    bool enabled = true;
    bool checked = false;
  };
  void add(const MenuItemTemplate& item) {
    if (item.command >= 0) items_[item.command] = State{!item.greyed, item.checked};
    for (const auto& child : item.children) add(child);
  }
  std::map<int, State> items_;
};

}  // namespace

class HeadlessPlatform::HeadlessWindow final : public Window {
 public:
  HeadlessWindow(HeadlessPlatform& platform, const WindowSpec& request, WindowHandler& handler)
      : platform_(platform), handler_(handler), title_(request.title),
        rect_{request.x, request.y, request.width, request.height}, visible_(request.visible) {
    if (request.menu != nullptr) menu_ = std::make_unique<HeadlessMenu>(*request.menu);
    resize_framebuffer(client_for(rect_));
    dirty_ = erase_ = true;
  }

  void set_title(std::string_view title) override { title_ = std::string(title); }
  std::string title() const override { return title_; }
  Rect outer_rect() const override { return rect_; }
  Size client_size() const override { return client_for(rect_); }

  void move(int x, int y, int width, int height, bool repaint) override {
    if (destroyed_) return;
    const Size before = client_size();
    rect_ = Rect{x, y, std::max(width, 0), std::max(height, 0)};
    const Size after = client_size();
    if (after != before || Size{framebuffer_.width, framebuffer_.height} != framebuffer_size(after)) {
      resize_framebuffer(after);
      dirty_ = erase_ = true;
    }
    if (after != before) handler_.on_size(after.width, after.height);
    if (repaint) invalidate(true);
  }

  void show() override {
    if (destroyed_) return;
    visible_ = true;
    if (!sized_) {
      sized_ = true;
      const Size client = client_size();
      handler_.on_size(client.width, client.height);
    }
    invalidate(true);
  }
  void hide() override { visible_ = false; }
  bool is_visible() const override { return visible_ && !destroyed_; }

  void invalidate(bool erase) override {
    dirty_ = true;
    erase_ = erase_ || erase;
  }

  void draw_now(const std::function<void(Surface&)>& draw) override {
    if (destroyed_) return;
    {
      HeadlessSurface canvas(*this, true);
      draw(canvas);
    }
    note_frame(true);
  }

  void set_capture() override { platform_.capture_ = this; }
  Menu* menu() override { return menu_.get(); }
  void destroy() override {
    destroyed_ = true;
    visible_ = false;
    if (platform_.capture_ == this) platform_.capture_ = nullptr;
  }
  bool is_destroyed() const override { return destroyed_; }

  // Delivers a pending paint; true when one was delivered.
  bool paint_if_needed() {
    if (!dirty_ || !is_visible()) return false;
    if (erase_) framebuffer_.fill(255, 255, 255);
    dirty_ = erase_ = false;
    {
      HeadlessSurface canvas(*this, false);
      handler_.on_paint(canvas);
    }
    note_frame(false);
    return true;
  }

  // What a popup or a closed dialog leaves behind until the next paint: the pixels it showed.
  void damage(int width, int height) {
    for (int y = 0; y < std::min(height, framebuffer_.height); ++y) {
      for (int x = 0; x < std::min(width, framebuffer_.width); ++x) framebuffer_.set(x, y, 0, 0, 0);
    }
    invalidate(true);
  }

  WindowHandler& handler() { return handler_; }
  bool has_menu() const { return menu_ != nullptr; }
  void note_frame(bool immediate, bool busy = false) {
    platform_.record_frame(
        [&] { return Frame{title_, immediate, Image{framebuffer_.width, framebuffer_.height, framebuffer_.rgb}, busy}; });
  }
  // The frame as the screen shows it: within the work area from its corner on, however large the
  // program asks for it.
  Rect shown_frame() const {
    const Rect& work = kWorkArea;
    const int room_width = work.x + work.width - std::max(rect_.x, work.x);
    const int room_height = work.y + work.height - std::max(rect_.y, work.y);
    return Rect{rect_.x, rect_.y, std::clamp(rect_.width, 1, std::max(room_width, 1)),
                std::clamp(rect_.height, 1, std::max(room_height, 1))};
  }
  // On screen a client area is never smaller than a pixel, or the window system would drop it,
  // and never larger than its shown frame holds: the framebuffer keeps only what is seen.
  Size framebuffer_size(Size client) const {
    const Size shown = client_for(shown_frame());
    return Size{std::clamp(client.width, 1, std::max(shown.width, 1)), std::clamp(client.height, 1, std::max(shown.height, 1))};
  }
  void resize_framebuffer(Size client) {
    const Size size = framebuffer_size(client);
    framebuffer_.resize(size.width, size.height);
  }
  const Framebuffer& framebuffer() const { return framebuffer_; }

  Size client_for(const Rect& outer) const {
    const int top = kCaptionHeight + (menu_ ? kMenuBarHeight : 0);
    return Size{std::max(outer.width - 2 * kFrameSide, 0), std::max(outer.height - top - kFrameBottom, 0)};
  }
  Rect outer_for(int client_width, int client_height) const {
    const int top = kCaptionHeight + (menu_ ? kMenuBarHeight : 0);
    return Rect{rect_.x, rect_.y, client_width + 2 * kFrameSide, client_height + top + kFrameBottom};
  }

 private:
  class HeadlessSurface final : public Surface {
   public:
    HeadlessSurface(HeadlessWindow& window, bool immediate) : window_(window), immediate_(immediate) {}
    void draw_bitmap(const BitmapView& bitmap, int x, int y) override {
      blit_bitmap(window_.framebuffer_, bitmap, x, y);
      record(DrawRecord::Operation::kBitmap, bitmap, x, y, bitmap.width, bitmap.height);
    }
    void stretch_bitmap(const BitmapView& bitmap, int width, int height) override {
      platform::stretch_bitmap(window_.framebuffer_, bitmap, width, height);
      record(DrawRecord::Operation::kStretch, bitmap, 0, 0, width, height);
    }
    void draw_text(int x, int y, std::string_view text) override {
      draw_placeholder_text(window_.framebuffer_, x, y, text);
      window_.platform_.record_draw(base(DrawRecord::Operation::kText).text_at(x, y, text));
    }
    void realise_palette(std::span<const std::uint8_t> colour_table) override {
      window_.platform_.record_draw(base(DrawRecord::Operation::kPalette).colours(colour_table));
    }

   private:
    DrawRecord base(DrawRecord::Operation operation) const { return DrawRecord::of(operation, window_.title_, immediate_); }
    void record(DrawRecord::Operation operation, const BitmapView& bitmap, int x, int y, int width, int height) {
      window_.platform_.record_draw(base(operation).place(bitmap, x, y, width, height));
    }
    HeadlessWindow& window_;
    bool immediate_;
  };

  HeadlessPlatform& platform_;
  WindowHandler& handler_;
  std::string title_;
  Rect rect_;
  bool visible_;
  bool sized_ = false;
  bool dirty_ = false;
  bool erase_ = false;
  bool destroyed_ = false;
  std::unique_ptr<HeadlessMenu> menu_;
  Framebuffer framebuffer_;
};

class HeadlessPlatform::HeadlessDialog final : public Dialog {
 public:
  HeadlessDialog(HeadlessPlatform& platform, const DialogTemplate& dialog) : platform_(platform), template_(dialog) {
    for (const auto& control : dialog.controls) {
      if (control.id < 0) continue;
      if (control.kind == ControlKind::kEdit || control.kind == ControlKind::kMultiLineEdit) {
        state_.texts[control.id] = control.text;
      } else if (control.kind == ControlKind::kScrollBar) {
        state_.scroll_positions[control.id] = 0;
      } else if (control.kind == ControlKind::kComboBox) {
        state_.combo_entries[control.id] = {};
        state_.combo_selections[control.id] = -1;
      }
    }
  }

  bool has_control(int id) const {
    return std::any_of(template_.controls.begin(), template_.controls.end(),
                       [id](const ControlTemplate& c) { return c.id == id; });
  }

  void set_text(int control, std::string_view text) override { state_.texts[control] = std::string(text); }
  std::string text(int control, std::size_t max_bytes) const override {
    auto it = state_.texts.find(control);
    return it == state_.texts.end() ? std::string() : std::string(varnic::cut_utf8(it->second, max_bytes));
  }
  void set_scroll_range(int control, int minimum, int maximum) override {
    ranges_[control] = {minimum, maximum};
    set_scroll_position(control, scroll_position(control));
  }
  void set_scroll_position(int control, int position) override {
    auto range = ranges_.find(control);
    if (range != ranges_.end()) position = std::clamp(position, range->second.first, range->second.second);
    state_.scroll_positions[control] = position;
  }
  int scroll_position(int control) const override {
    auto it = state_.scroll_positions.find(control);
    return it == state_.scroll_positions.end() ? 0 : it->second;
  }
  void combo_insert(int control, int index, std::string_view text) override {
    auto& entries = state_.combo_entries[control];
    const auto at = static_cast<std::size_t>(std::clamp<int>(index, 0, static_cast<int>(entries.size())));
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(at), std::string(text));
  }
  void combo_select(int control, int index) override {
    const auto& entries = state_.combo_entries[control];
    state_.combo_selections[control] = (index >= 0 && index < static_cast<int>(entries.size())) ? index : -1;
  }
  int combo_selection(int control) const override {
    auto it = state_.combo_selections.find(control);
    return it == state_.combo_selections.end() ? -1 : it->second;
  }
  void message_box(std::string_view text, std::string_view caption) override {
    platform_.record_message(MessageRecord{std::string(text), std::string(caption), template_.name});
  }
  void end(int result) override {
    ended_ = true;
    result_ = result;
  }

  bool ended() const { return ended_; }
  int result() const { return result_; }
  const DialogState& state() const { return state_; }

 private:
  HeadlessPlatform& platform_;
  const DialogTemplate& template_;
  DialogState state_;
  std::map<int, std::pair<int, int>> ranges_;
  bool ended_ = false;
  int result_ = 0;
};

HeadlessPlatform::HeadlessPlatform() = default;
HeadlessPlatform::~HeadlessPlatform() = default;

Window& HeadlessPlatform::create_window(const WindowSpec& request, WindowHandler& handler) {
  windows_.push_back(std::make_unique<HeadlessWindow>(*this, request, handler));
  return *windows_.back();
}

namespace {

// The user's hands on a headless dialog: typing and selecting set the values, pressing and
// scrolling reach the program as the controls' messages would.
class HeadlessHands final : public ScriptedDialog {
 public:
  HeadlessHands(HeadlessPlatform::HeadlessDialog& box, DialogController& controller) : box_(box), controller_(controller) {}
  bool ended() const override;
  DialogState state() const override;
  bool take(const DialogStep& step) override;
  void escape() override;
  void force_end() override;
  int result() const override;

 private:
  HeadlessPlatform::HeadlessDialog& box_;
  DialogController& controller_;
};

}  // namespace

bool HeadlessHands::ended() const { return box_.ended(); }
DialogState HeadlessHands::state() const { return box_.state(); }
void HeadlessHands::escape() { controller_.on_command(box_, 2); }
void HeadlessHands::force_end() { box_.end(-1); }
int HeadlessHands::result() const { return box_.result(); }

bool HeadlessHands::take(const DialogStep& step) {
  // Control 2 without a button of that id is the Escape key, which every dialog hears.
  const bool escape = step.action == DialogStep::Action::kPress && step.control == 2;
  if (!escape && !box_.has_control(step.control)) return false;
  switch (step.action) {
    case DialogStep::Action::kSetText:
      box_.set_text(step.control, step.text);
      controller_.on_text_changed(box_, step.control);
      break;
    case DialogStep::Action::kSelect: box_.combo_select(step.control, step.index); break;
    case DialogStep::Action::kScroll: controller_.on_scroll(box_, step.scroll); break;
    case DialogStep::Action::kPress: controller_.on_command(box_, step.control); break;
    case DialogStep::Action::kSnapshot: break;
  }
  return true;
}

int HeadlessPlatform::run_dialog(const DialogTemplate& dialog, DialogController& controller) {
  HeadlessDialog box(*this, dialog);
  open_dialogs_.push_back(dialog.name);
  controller.on_init(box);
  HeadlessHands hands(box, controller);
  play_dialog(dialog.name, hands);
  open_dialogs_.pop_back();
  return box.result();
}

void HeadlessPlatform::message_box(std::string_view text, std::string_view caption) {
  record_message(MessageRecord{std::string(text), std::string(caption), ""});
}

std::optional<FileChoice> HeadlessPlatform::answer_file(const FileChooserSpec& request) {
  std::optional<std::string> answer = take_preset_answer();
  if (!answer) {
    answer = take_file_answer(request);
    for (auto& window : windows_) {
      if (window->has_menu() && window->is_visible()) window->damage(kChooserCovers.width, kChooserCovers.height);
    }
  }
  if (!answer) return std::nullopt;
  FileChoice choice;
  choice.path = *answer;
  const auto slash = answer->find_last_of('/');
  choice.title = slash == std::string::npos ? *answer : answer->substr(slash + 1);
  return choice;
}

std::optional<FileChoice> HeadlessPlatform::choose_open_file(const FileChooserSpec& request) { return answer_file(request); }
std::optional<FileChoice> HeadlessPlatform::choose_save_file(const FileChooserSpec& request) { return answer_file(request); }

Cursor HeadlessPlatform::set_cursor(Cursor cursor) {
  const Cursor previous = cursor_;
  cursor_ = cursor;
  if (cursor == Cursor::kWait && previous != Cursor::kWait) {
    for (auto& window : windows_) {
      if (window->is_visible()) window->note_frame(false, true);
    }
  }
  return previous;
}

void HeadlessPlatform::release_capture() { capture_ = nullptr; }

void HeadlessPlatform::show_help(std::string_view title, std::string_view text) {
  record_help(HelpRecord{std::string(title), std::string(text)});
}

void HeadlessPlatform::process_paints() {
  // A paint handler may invalidate again; a bounded number of rounds keeps a faulty one from
  // spinning forever.
  for (int round = 0; round < 8; ++round) {
    bool painted = false;
    for (auto& window : windows_) painted = window->paint_if_needed() || painted;
    if (!painted) return;
  }
}

int HeadlessPlatform::run() {
  process_paints();
  return quit_code().value_or(0);
}

Rect HeadlessPlatform::frame_on_screen(const Window& window) const {
  return static_cast<const HeadlessWindow&>(window).shown_frame();
}

Image HeadlessPlatform::client_image(const Window& window) const {
  const auto& fb = static_cast<const HeadlessWindow&>(window).framebuffer();
  return Image{fb.width, fb.height, fb.rgb};
}

void HeadlessPlatform::user_resize_client(Window& window, int client_width, int client_height) {
  auto& w = static_cast<HeadlessWindow&>(window);
  const Rect outer = w.outer_for(client_width, client_height);
  w.move(outer.x, outer.y, outer.width, outer.height, true);
  process_paints();
}

void HeadlessPlatform::user_click(Window& window) {
  static_cast<HeadlessWindow&>(window).handler().on_mouse_button();
  process_paints();
}

void HeadlessPlatform::user_close(Window& window) {
  static_cast<HeadlessWindow&>(window).handler().on_close();
  process_paints();
}

void HeadlessPlatform::user_choose(Window& window, int command) {
  auto& w = static_cast<HeadlessWindow&>(window);
  w.damage(kPopupWidth, kPopupHeight);
  w.handler().on_command(command);
  process_paints();
}

}  // namespace varnic::platform
