// Where a machine's run is, and where the last one stopped: the name of the text being run
// (a file name, say), the top-level line being run and its number, and the names of the
// texts that functions were recorded from. Both interpreters keep one, and report from it
// where a failure happened.
#pragma once
#include <cstdint>
#include <string_view>

#include "intern.hpp"
#include "memory.hpp"
#include "outcome.hpp"
#include "vec.hpp"

namespace zandle {

class RunPlace {
 public:
  explicit RunPlace(Memory& memory) : sources_(memory), stopped_source_(memory), stopped_text_(memory) {}

  // A run of the text called `name` begins (an empty name for a call the host makes).
  void begin(std::string_view name) {
    stopped_ = false;
    source_ = no_name;
    name_ = name;
    line_ = 0;
    text_ = {};
  }

  // The run is at this top-level line.
  void at(std::uint32_t number, std::string_view text) {
    line_ = number;
    text_ = text;
  }
  std::uint32_t line() const { return line_; }

  // The run stopped. Its top-level line is copied, since the host's text may be gone by the
  // time it asks; without room for the copy the place is only the line's number.
  void stop() {
    stopped_ = true;
    stopped_line_ = line_;
    stopped_source_.clear();
    stopped_text_.clear();
    if (!stopped_source_.append(name_)) stopped_source_.clear();
    if (!stopped_text_.append(text_)) stopped_text_.clear();
  }
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
  InternTable<char> sources_;
  NameId source_ = no_name;
  std::string_view name_;
  std::uint32_t line_ = 0;
  std::string_view text_;
  bool stopped_ = false;
  std::uint32_t stopped_line_ = 0;
  Buffer stopped_source_;
  Buffer stopped_text_;
};

}  // namespace zandle
