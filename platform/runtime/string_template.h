// Text with named variables between two delimiters ("{{p}}.uuid"), filled
// in from the values set on the template. A plain value; not shared between
// threads.
#ifndef PLATFORM_RUNTIME_STRING_TEMPLATE_H_
#define PLATFORM_RUNTIME_STRING_TEMPLATE_H_

#include <map>
#include <string>

class String_Template {
 public:
  // `open` and `close` are the delimiters around a variable's name; both
  // must be non-empty.
  explicit String_Template(std::string text, std::string open = "{{", std::string close = "}}");

  String_Template& set(const std::string& name, const std::string& value);

  // The text with every delimited name that has a value replaced by it.
  // A name without a value, or an opening delimiter that is never closed,
  // stays as written.
  std::string str() const;

 private:
  std::string text_;
  std::string open_;
  std::string close_;
  std::map<std::string, std::string> values_;
};

// The text of `text` with the one variable `name` set to `value`.
std::string fill_template(const std::string& text, const std::string& name,
                          const std::string& value);

#endif  // PLATFORM_RUNTIME_STRING_TEMPLATE_H_
