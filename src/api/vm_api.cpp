// The C interface for vm machines: every value is text, arguments come through ARG1 and ARG2.
#include <iterator>

#include "binding.hpp"
#include "program.hpp"
#include "vm/escapes/escapes.hpp"
#include "vm/machine.hpp"

namespace zandle::api {

namespace {

// vm hands out views of its variables' own bytes, which need nothing more.
struct NoViews {
  explicit NoViews(Memory&) {}
};

struct VmTraits : TraitsBase<VmTraits, vm::Machine, vm::Options, NoViews, ZANDLE_VM> {
  // The escapes of each preset, in the order of Preset.
  static constexpr std::uint32_t presets[] = {vm::sandboxEscapes(), vm::consoleEscapes(), vm::allEscapes(),
                                              vm::pureEscapes()};

  // By vm::HaltReason.
  static constexpr zandle_halt halts[] = {ZANDLE_HALT_NONE,        ZANDLE_HALT_INSTRUCTIONS, ZANDLE_HALT_NEW,
                                          ZANDLE_HALT_ESCAPE,      ZANDLE_HALT_FUNC,         ZANDLE_HALT_CALL,
                                          ZANDLE_HALT_RETURN,      ZANDLE_HALT_INSTRUCTION_CAP,
                                          ZANDLE_HALT_CALL_STACK,  ZANDLE_HALT_EXIT};
  static_assert(halts[static_cast<int>(vm::HaltReason::instruction_cap)] == ZANDLE_HALT_INSTRUCTION_CAP &&
                halts[static_cast<int>(vm::HaltReason::exit)] == ZANDLE_HALT_EXIT);

  // The budgets a host set (0 keeps the built-in one), and the depth of calls.
  static void configure(const zandle_options& o, vm::Options& options) {
    const std::uint32_t given[] = {o.vm_budget_instructions, o.vm_budget_new,  o.vm_budget_escape,
                                   o.vm_budget_func,         o.vm_budget_call, o.vm_budget_return};
    std::uint32_t* budgets[] = {&options.budgets.instructions, &options.budgets.new_,
                                &options.budgets.escape,       &options.budgets.func,
                                &options.budgets.call,         &options.budgets.return_};
    for (std::size_t i = 0; i < std::size(given); ++i) {
      if (given[i] != 0) *budgets[i] = given[i];
    }
    options.call_depth_max = o.call_depth_max != 0 ? o.call_depth_max : default_call_depth;
  }

  static zandle_status setText(zandle_machine* m, std::string_view name, std::string_view text) {
    return machine(m).data().store(name, text) ? ZANDLE_OK : ZANDLE_OUT_OF_MEMORY;
  }
  static zandle_status getText(zandle_machine* m, std::string_view name, std::string_view& text) {
    return machine(m).data().find(name, text) ? ZANDLE_OK : ZANDLE_NOT_FOUND;
  }
  static zandle_status getType(zandle_machine*, std::string_view, zandle_type&) { return ZANDLE_UNSUPPORTED; }
  static zandle_status setNumber(zandle_machine*, std::string_view, zandle_type, const void*) {
    return ZANDLE_UNSUPPORTED;
  }
  static zandle_status getNumber(zandle_machine*, std::string_view, zandle_type, void*) {
    return ZANDLE_UNSUPPORTED;
  }
  // ARG1 or ARG2 names the variable that holds the argument.
  static zandle_status escapeArg(zandle_machine* m, unsigned index, std::string_view& text) {
    if (index != 1 && index != 2) return ZANDLE_INVALID_ARGUMENT;
    return vm::escapes::argument(machine(m), index == 1 ? "ARG1" : "ARG2", text) ? ZANDLE_OK
                                                                                  : ZANDLE_NOT_FOUND;
  }
  // vm escapes store their results under names of their own choosing.
  static zandle_status escapeResult(zandle_machine*, unsigned, std::string_view) { return ZANDLE_UNSUPPORTED; }
};

}  // namespace

}  // namespace zandle::api

ZANDLE_API_CONSTRUCTORS(VmTraits, zandle_new_vm, newProgramVm)
