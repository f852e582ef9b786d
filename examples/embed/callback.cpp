// A host that calls back into its script: the script defines the pricing rules as
// functions, the host sets typed variables, calls a rule by name and reads the result.
//
//     callback RULES
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "zandle/zandle.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: callback RULES\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string rules((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  zandle::Zndvm m;
  if (!file || zandle::Zndvm::create(m) != ZANDLE_OK) return 1;
  // The rules may ask the host for a discount through an escape of its own.
  auto discount = [](zandle::EscapeContext ctx) {
    std::string_view customer;
    if (ctx.arg(0, customer) != ZANDLE_OK) return ctx.fail("NoCustomer");
    return static_cast<int>(ctx.result(0, customer == "regular" ? "0.9" : "1"));
  };
  if (m.registerEscape("shop.discount", discount) != ZANDLE_OK) return 1;
  if (m.run(rules, argv[1]) != ZANDLE_OK) {
    std::fprintf(stderr, "rules failed: %s\n", std::string(m.errorName()).c_str());
    return 1;
  }

  const struct {
    const char* customer;
    double price;
    std::uint64_t count;
  } orders[] = {{"regular", 2.5, 4}, {"new", 2.5, 4}, {"regular", 10, 1}};
  for (const auto& order : orders) {
    m.setText("customer", order.customer);
    m.setFloat("price", order.price);
    m.setWord("count", order.count);
    if (m.call("quote") != ZANDLE_OK) {
      const zandle::Place at = m.where();
      std::fprintf(stderr, "quote failed: %s at %u: %.*s\n", std::string(m.errorName()).c_str(), at.line,
                   static_cast<int>(at.text.size()), at.text.data());
      return 1;
    }
    double total = 0;
    m.getFloat("total", total);
    std::printf("%s: %llu x %.2f = %.2f\n", order.customer, static_cast<unsigned long long>(order.count),
                order.price, total);
  }
  // A rule that does not exist is an ordinary failure the host can report.
  if (m.call("refund") == ZANDLE_FAILED) std::printf("refund: %s\n", std::string(m.errorName()).c_str());
  return 0;
}
