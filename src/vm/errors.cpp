#include "errors.hpp"

namespace zandle::vm {

std::string_view errorName(Error e) {
  static constexpr std::string_view names[] = {
      "ok",
#define ZANDLE_NAME_ITEM(name) #name,
      ZANDLE_SYS_ERRORS(ZANDLE_NAME_ITEM) ZANDLE_VM_ERRORS(ZANDLE_NAME_ITEM)
#undef ZANDLE_NAME_ITEM
  };
  return names[static_cast<std::size_t>(e)];
}

}  // namespace zandle::vm
