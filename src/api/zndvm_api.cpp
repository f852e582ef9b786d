// The C interface for zndvm machines: typed values, arguments and results through the
// __Escape_<name>_ARG<n> and _RET<n> variables.
#include "binding.hpp"
#include "program.hpp"
#include "common/decimal.hpp"
#include "zndvm/escapes/table.hpp"
#include "zndvm/machine.hpp"

namespace zandle::api {

namespace {

using zndvm::Type;
using zndvm::SlotId;
using zndvm::Value;

static_assert(static_cast<int>(Type::word) == ZANDLE_WORD && static_cast<int>(Type::sword) == ZANDLE_SWORD &&
              static_cast<int>(Type::float_) == ZANDLE_FLOAT && static_cast<int>(Type::str) == ZANDLE_STR);

// The printed forms of numbers that the interface hands out as views: one block for each
// variable read so, so that a view lasts until its variable is set or the machine runs
// again (when the block may be written anew), and an escape called any number of times
// uses the same few blocks.
class NumberTexts {
 public:
  explicit NumberTexts(Memory& memory) : memory_(memory), blocks_(memory) {}
  ~NumberTexts() {
    for (const Block& b : blocks_) memory_.release(b.bytes, b.capacity);
  }
  NumberTexts(const NumberTexts&) = delete;
  NumberTexts& operator=(const NumberTexts&) = delete;

  // `value`, the number variable `slot` holds, as text in that variable's block; false when
  // memory runs out.
  bool text(SlotId slot, const Value& value, std::string_view& out) {
    char buf[zndvm::value_text_capacity];
    const std::string_view t = zndvm::valueToString(value, buf);
    if (slot >= blocks_.size() && !blocks_.resize(slot + 1)) return false;
    Block& b = blocks_[slot];
    if (t.size() > b.capacity) {
      // Most numbers print in fewer bytes than this; one that does not gets a block its size.
      const std::size_t capacity = t.size() < 32 ? 32 : t.size();
      auto* bytes = static_cast<char*>(memory_.allocate(capacity));
      if (bytes == nullptr) return false;
      memory_.release(b.bytes, b.capacity);
      b = Block{bytes, capacity};
    }
    std::memcpy(b.bytes, t.data(), t.size());
    out = std::string_view(b.bytes, t.size());
    return true;
  }

 private:
  struct Block {
    char* bytes;
    std::size_t capacity;
  };
  Memory& memory_;
  Vec<Block> blocks_;  // by variable slot
};

struct ZndvmTraits : TraitsBase<ZndvmTraits, zndvm::Machine, zndvm::Options, NumberTexts, ZANDLE_ZNDVM> {
  // The escapes of each preset, in the order of Preset.
  static constexpr std::uint32_t presets[] = {zndvm::sandboxEscapes(), zndvm::consoleEscapes(), zndvm::allEscapes(),
                                              zndvm::pureEscapes()};

  // By zndvm::HaltReason.
  static constexpr zandle_halt halts[] = {ZANDLE_HALT_NONE, ZANDLE_HALT_CALL_STACK, ZANDLE_HALT_INSTRUCTION_CAP,
                                          ZANDLE_HALT_EXIT};
  static_assert(halts[static_cast<int>(zndvm::HaltReason::exit)] == ZANDLE_HALT_EXIT);

  static void configure(const zandle_options& o, zndvm::Options& options) {
    options.call_depth_max = o.call_depth_max != 0 ? o.call_depth_max : default_call_depth;
  }

  // A value as text: a str's own bytes, a number's printed form in its variable's block.
  static zandle_status textOf(zandle_machine* m, SlotId slot, const Value& v, std::string_view& text) {
    if (v.type == Type::str) {
      text = v.text();
      return ZANDLE_OK;
    }
    return core<ZndvmTraits>(m).views.text(slot, v, text) ? ZANDLE_OK : ZANDLE_OUT_OF_MEMORY;
  }

  static zandle_status stored(bool ok) { return ok ? ZANDLE_OK : ZANDLE_OUT_OF_MEMORY; }

  static zandle_status setText(zandle_machine* m, std::string_view name, std::string_view text) {
    if (text.size() > zndvm::str_max) return ZANDLE_OUT_OF_MEMORY;
    return stored(machine(m).vars().set(name, Value::ofStr(text)));
  }
  static zandle_status getText(zandle_machine* m, std::string_view name, std::string_view& text) {
    const zndvm::Variables& vars = machine(m).vars();
    const SlotId slot = vars.slotOf(name);
    const Value* v = slot != zndvm::no_slot ? vars.get(slot) : nullptr;
    if (v == nullptr) return ZANDLE_NOT_FOUND;
    return textOf(m, slot, *v, text);
  }
  static zandle_status getType(zandle_machine* m, std::string_view name, zandle_type& type) {
    const Value* v = machine(m).vars().find(name);
    if (v == nullptr) return ZANDLE_NOT_FOUND;
    type = static_cast<zandle_type>(v->type);
    return ZANDLE_OK;
  }
  static zandle_status setNumber(zandle_machine* m, std::string_view name, zandle_type type, const void* value) {
    Value v;
    switch (type) {
      case ZANDLE_WORD: v = Value::ofWord(*static_cast<const std::uint64_t*>(value)); break;
      case ZANDLE_SWORD: v = Value::ofSword(*static_cast<const std::int64_t*>(value)); break;
      case ZANDLE_FLOAT: v = Value::ofFloat(*static_cast<const double*>(value)); break;
      default: return ZANDLE_INVALID_ARGUMENT;
    }
    return stored(machine(m).vars().set(name, v));
  }
  static zandle_status getNumber(zandle_machine* m, std::string_view name, zandle_type type, void* value) {
    const Value* v = machine(m).vars().find(name);
    if (v == nullptr) return ZANDLE_NOT_FOUND;
    if (static_cast<zandle_type>(v->type) != type) return ZANDLE_WRONG_TYPE;
    switch (type) {
      case ZANDLE_WORD: *static_cast<std::uint64_t*>(value) = v->as.word; break;
      case ZANDLE_SWORD: *static_cast<std::int64_t*>(value) = v->as.sword; break;
      case ZANDLE_FLOAT: *static_cast<double*>(value) = v->as.float_; break;
      default: return ZANDLE_INVALID_ARGUMENT;
    }
    return ZANDLE_OK;
  }

  static zandle_status escapeArg(zandle_machine* m, unsigned index, std::string_view& text) {
    const Value* v;
    SlotId slot;
    if (!zndvm::escapes::findArgument(machine(m), index, v, slot)) return ZANDLE_OUT_OF_MEMORY;
    if (v == nullptr) return ZANDLE_NOT_FOUND;
    return textOf(m, slot, *v, text);
  }

  static zandle_status escapeResult(zandle_machine* m, unsigned index, std::string_view text) {
    zndvm::Machine& mach = machine(m);
    if (text.size() > zndvm::str_max) return ZANDLE_OUT_OF_MEMORY;
    SlotId slot;
    if (!mach.escapeSlot(zndvm::Machine::EscapeVar::ret, index, true, slot)) return ZANDLE_OUT_OF_MEMORY;
    return stored(mach.vars().set(slot, Value::ofStr(text)));
  }
};

}  // namespace

}  // namespace zandle::api

ZANDLE_API_CONSTRUCTORS(ZndvmTraits, zandle_new_zndvm, newProgramZndvm)
