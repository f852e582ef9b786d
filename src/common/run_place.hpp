// Where a machine's run is, and where the last one stopped: the name of the text being run
// (a file name, say), the text itself and the top-level line being run with its number, and
// the names of the texts that functions were recorded from. Both interpreters keep one: they
// take their lines from it, report from it where a failure happened, and keep what is left
// of the text in it when a run pauses, since the host's text may be gone by the time it
// resumes.
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

#include "bytes.hpp"
#include "intern.hpp"
#include "memory.hpp"
#include "outcome.hpp"
#include "snapshot.hpp"
#include "vec.hpp"

namespace zandle {

class RunPlace {
 public:
  explicit RunPlace(Memory& memory)
      : sources_(memory), stopped_source_(memory), stopped_text_(memory), own_name_(memory), own_text_(memory) {}

  // A run of `text`, called `name`, begins (no text and an empty name for a call the host
  // makes).
  void begin(std::string_view name, std::string_view text = {}) {
    stopped_ = false;
    source_ = no_name;
    name_ = name;
    line_ = 0;
    text_ = text;
    next_ = 0;
    line_start_ = 0;
    own_name_.clear();
    own_text_.clear();
    owned_ = false;
  }

  // The next top-level line, without its line end, which becomes the line being run; false
  // at the end of the text.
  bool nextLine(std::string_view& line) {
    if (next_ >= text_.size()) return false;
    line_start_ = next_;
    line = lineAt(next_);
    // A last line without a line end ends the text, not one byte past it: a paused run's
    // place must lie inside what it keeps.
    next_ += line.size() + (next_ + line.size() < text_.size() ? 1 : 0);
    ++line_;
    return true;
  }
  // The line being run did not start: the next nextLine gives it again.
  void again() {
    next_ = line_start_;
    --line_;
  }

  std::uint32_t line() const { return line_; }

  // A paused run as a snapshot keeps it: the name, the text from the line being run on, where
  // the next line starts in that, and the number of the line being run.
  std::string_view name() const { return name_; }
  std::string_view rest() const { return sliceFrom(text_, line_start_); }
  std::size_t nextInRest() const { return next_ - line_start_; }
  // Puts a paused run back as rest() and the rest gave it; false when memory runs out.
  [[nodiscard]] bool restore(std::string_view name, std::string_view rest, std::size_t next, std::uint32_t line) {
    begin({});
    if (!own_name_.append(name) || !own_text_.append(rest)) return false;
    name_ = own_name_.view();
    text_ = own_text_.view();
    next_ = next;
    line_ = line;
    owned_ = true;
    return true;
  }

  // The names of the texts functions came from, by id.
  std::size_t sourceCount() const { return sources_.count(); }

  // The names of the texts functions came from, in a snapshot, and back (false when memory
  // runs out; a reader that cannot take them is spoilt).
  void saveSources(SnapshotWriter& w) const {
    w.u64(sources_.count());
    for (NameId id = 0; id < sources_.count(); ++id) w.text(sources_.name(id));
  }
  [[nodiscard]] bool loadSources(SnapshotReader& r) {
    for (std::uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
      const std::string_view name = r.text();
      NameId id;
      if (!r.ok()) break;
      if (!sources_.intern(name, id)) return false;
      if (id != i) r.spoil();  // each name once
    }
    return true;
  }
  // A paused run's text in a snapshot: its name, the text from the line being run on, where
  // the next line starts in that, and the line's number; with `line_waits`, the line being
  // run has not run and is read again.
  void saveRun(SnapshotWriter& w, bool line_waits) const {
    w.text(name_);
    w.text(rest());
    w.u64(line_waits ? 0 : nextInRest());
    w.u32(line_waits ? line_ - 1 : line_);
  }
  // Puts it back; Restored::invalid when the place is not in the text.
  Restored loadRun(SnapshotReader& r) {
    const std::string_view name = r.text();
    const std::string_view text = r.text();
    const std::uint64_t next = r.u64();
    const std::uint32_t line = r.u32();
    if (!r.ok() || next > text.size()) return Restored::invalid;
    return restore(name, text, next, line) ? Restored::ok : Restored::out_of_memory;
  }
  // The line being run (empty before the first).
  std::string_view lineText() const { return line_ != 0 ? lineAt(line_start_) : std::string_view(); }

  // The run pauses: the name and the text from the line being run on are copied, so that
  // the run can go on when the host's are gone. False when memory runs out.
  [[nodiscard]] bool keep() {
    if (!owned_) {
      const std::size_t offset = line_start_;
      if (!own_text_.append(sliceFrom(text_, offset))) return false;
      text_ = own_text_.view();
      next_ -= offset;
      line_start_ = 0;
      if (!own_name_.append(name_)) return false;
      name_ = own_name_.view();
      owned_ = true;
    }
    return true;
  }

  // The run stopped. Its top-level line is copied, since the host's text may be gone by the
  // time it asks; without room for the copy the place is only the line's number.
  // A run paused before a top-level line (the line gave back, or a restored run that reads
  // it next) stands at that line, number and text, not at the one before.
  void stop() {
    stopped_ = true;
    const bool before_line = next_ == line_start_ && next_ < text_.size();
    stopped_line_ = before_line ? line_ + 1 : line_;
    stopped_source_.clear();
    stopped_text_.clear();
    if (!stopped_source_.append(name_)) stopped_source_.clear();
    if (!stopped_text_.append(before_line ? lineAt(next_) : lineText())) stopped_text_.clear();
  }
  // A paused run goes on.
  void resume() { stopped_ = false; }
  bool stopped() const { return stopped_; }
  // The top-level line the last run stopped at, or the one its outermost call was made from
  // (line 0 when the host made that call).
  LineRef stoppedAt() const { return {stopped_source_.view(), stopped_line_, stopped_text_.view()}; }

  // Where the last run stopped, given the calls it left in progress: `frames` of them,
  // placeOf(k) the line frame k (counted from the outermost) was at. Inside a call that is
  // the innermost frame's line, else the top-level line; nothing when the run finished.
  template <class PlaceOf>
  LineRef stoppedIn(std::size_t frames, PlaceOf placeOf) const {
    if (!stopped_) return {};
    return frames != 0 ? placeOf(frames - 1) : stoppedAt();
  }
  // Call i of those, the innermost first: its function (nameOf(k)) and the line it was
  // called from (the top-level line for the outermost, nothing when the host called it).
  template <class NameOf, class PlaceOf>
  CallRef call(std::size_t frames, std::size_t i, NameOf nameOf, PlaceOf placeOf) const {
    const std::size_t k = frames - 1 - i;
    return {nameOf(k), k > 0 ? placeOf(k - 1) : stoppedAt()};
  }

  // The id of the running text's name among the sources, interned on first need (when a
  // function is recorded); no_name when memory runs out.
  NameId sourceId() {
    if (source_ == no_name && !sources_.intern(name_, source_)) source_ = no_name;
    return source_;
  }
  std::string_view sourceName(NameId id) const { return sources_.name(id); }

 private:
  // The line that starts at `start`, without its line end (none at the end of the text, as
  // a restored run may stand).
  std::string_view lineAt(std::size_t start) const {
    if (start >= text_.size()) return {};
    const char* from = text_.data() + start;
    const void* nl = std::memchr(from, '\n', text_.size() - start);
    return {from, nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - from) : text_.size() - start};
  }

  InternTable<char> sources_;
  NameId source_ = no_name;
  std::string_view name_;
  std::uint32_t line_ = 0;
  std::string_view text_;
  std::size_t next_ = 0;        // where the line after the one being run starts in text_
  std::size_t line_start_ = 0;  // where the one being run starts
  bool stopped_ = false;
  std::uint32_t stopped_line_ = 0;
  Buffer stopped_source_;
  Buffer stopped_text_;
  Buffer own_name_;
  Buffer own_text_;
  bool owned_ = false;  // text_ and name_ are the copies
};

}  // namespace zandle
