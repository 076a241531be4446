#include "client/config/multipart.h"

namespace veltrona::config {

std::string MultipartHeaders() {
  std::string headers = "Expect: 100-continue\r\nContent-Type: multipart/form-data; boundary=";
  headers.append(kMultipartBoundary);
  return headers;
}

std::string StartMultipartBody() {
  std::string body = "--";
  body.append(kMultipartBoundary);
  return body;
}

std::string& AppendFormField(std::string& body, std::string_view name, std::string_view value) {
  body.append("\r\nContent-Disposition: form-data; name=\"");
  body.append(name);
  body.append("\"\r\n\r\n");
  body.append(value);
  body.append("\r\n--");
  body.append(kMultipartBoundary);
  return body;
}

std::string& FinishMultipartBody(std::string& body) {
  body.append("--\r\n");
  return body;
}

bool FormFieldKeepsFraming(std::string_view name, std::string_view value) {
  if (name.find_first_of("\"\r\n") != std::string_view::npos) return false;
  std::string delimiter = "\r\n--";
  delimiter.append(kMultipartBoundary);
  // Right after the field's empty line a lenient reader also takes the
  // boundary without its CRLF.
  return value.find(delimiter) == std::string_view::npos &&
         !value.starts_with(std::string_view(delimiter).substr(2));
}

}  // namespace veltrona::config
