#include "text_signatures.h"

#include <Python.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace py = pybind11;

namespace velmora::python {

namespace {

// Splits the parameter list at the commas outside brackets and quotes.
std::vector<std::string> parameters(const std::string& list)
{
    std::vector<std::string> parts;
    std::string part;
    int depth = 0;
    char quote = 0;
    for (char c : list) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '[' || c == '(' || c == '{') {
            ++depth;
        } else if (c == ']' || c == ')' || c == '}') {
            --depth;
        } else if (c == ',' && depth == 0) {
            parts.push_back(part);
            part.clear();
            continue;
        }
        part += c;
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// "name(self: T, a: int = 3) -> R\n\ndoc" -> "name(self, a=3)\n--\n\ndoc"; empty when the
// docstring has no such first line (overloads, or a signature already given).
std::string textSignatureDoc(const std::string& name, const std::string& doc)
{
    if (doc.rfind(name + "(", 0) != 0)
        return {};
    int depth = 0;
    std::size_t close = std::string::npos;
    for (std::size_t i = name.size(); i < doc.size(); ++i) {
        if (doc[i] == '(')
            ++depth;
        else if (doc[i] == ')' && --depth == 0) {
            close = i;
            break;
        }
    }
    if (close == std::string::npos || doc.compare(close + 1, 3, "\n--") == 0)
        return {};
    std::string signature = name + "(";
    bool first = true;
    for (const std::string& raw : parameters(doc.substr(name.size() + 1, close - name.size() - 1))) {
        const std::string parameter = trimmed(raw);
        const std::size_t colon = parameter.find(':');
        const std::size_t equals = parameter.find(" = ");
        std::string argument = trimmed(parameter.substr(0, std::min(colon, equals)));
        if (equals != std::string::npos) {
            std::string value = trimmed(parameter.substr(equals + 3));
            if (value.find('<') != std::string::npos)
                value = "None";
            argument += "=" + value;
        }
        signature += (first ? "" : ", ") + argument;
        first = false;
    }
    std::size_t rest = doc.find('\n', close);
    std::string text = rest == std::string::npos ? std::string() : doc.substr(rest);
    while (!text.empty() && text.front() == '\n')
        text.erase(0, 1);
    return signature + ")\n--\n\n" + text;
}

void rewrite(PyObject* function)
{
    if (!PyCFunction_Check(function))
        return;
    auto* object = reinterpret_cast<PyCFunctionObject*>(function);
    if (!object->m_ml || !object->m_ml->ml_doc || !object->m_ml->ml_name)
        return;
    const std::string doc = textSignatureDoc(object->m_ml->ml_name, object->m_ml->ml_doc);
    if (doc.empty())
        return;
    // pybind11 made ml_doc with strdup and frees it the same way.
    std::free(const_cast<char*>(object->m_ml->ml_doc));
    object->m_ml->ml_doc = strdup(doc.c_str());
}

void rewriteMember(const py::handle& member)
{
    if (py::hasattr(member, "__func__"))
        rewrite(member.attr("__func__").ptr());
    else
        rewrite(member.ptr());
}

}  // namespace

void addTextSignatures(py::module_& module)
{
    for (auto item : module.attr("__dict__").cast<py::dict>()) {
        const py::handle value = item.second;
        if (PyType_Check(value.ptr())) {
            for (auto member : value.attr("__dict__").cast<py::dict>())
                rewriteMember(member.second);
        } else {
            rewriteMember(value);
        }
    }
}

}  // namespace velmora::python
