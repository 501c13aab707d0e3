#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "interfaces/interface_table.h"
#include "support/test_paths.h"

namespace benchcap::interfaces {
namespace {

// The interfaces a manual page's --interface paragraph names in bold ("\fBsim\fR",
// "\fBprologix:\fIHOST").
std::set<std::string> namedInterfaces(const std::string& page) {
    const size_t start = page.find("\\fB\\-\\-interface\\fR \\fICHOICE\\fR\n");
    if (start == std::string::npos)
        return {};
    const std::string paragraph = page.substr(start + 1, page.find("\n.TP", start) - start);
    static const std::regex bold(R"(\\fB([a-z0-9]+))");
    std::set<std::string> names;
    for (std::sregex_iterator m(paragraph.begin(), paragraph.end(), bold), end; m != end; ++m)
        names.insert((*m)[1]);
    return names;
}

TEST(InterfaceTable, TheManualPagesNameEveryInterfaceAndNoOther) {
    std::set<std::string> table;
    for (const InterfaceKind& kind : interfaceKinds())
        table.insert(kind.name);
    for (const char* page : {"benchcap.1", "benchcap-cli.1"})
        EXPECT_EQ(namedInterfaces(test::readFile(test::sourceDir() / "dist" / page)), table)
            << page;
}

}  // namespace
}  // namespace benchcap::interfaces
