// The words a script reads from the doctor's JSON are one list: every value
// of "caller" and "auth" the code can give is in it, and --help and the
// operator's guide name every one of them and every top-level field.
#include "doctor/check_results.h"
#include "doctor/options.h"
#include "doctor/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

// The guide's section on the doctor, up to the next section.
std::string DoctorSectionOfGuide()
{
    std::ifstream in(IIS_GUIDE, std::ios::binary);
    std::string guide((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = guide.find("### What tessaline-doctor reports");
    EXPECT_NE(start, std::string::npos);
    size_t end = guide.find("\n## ", start);
    return guide.substr(start, end - start);
}

// The names of a JSON object's own members, not those of objects inside it.
std::set<std::string> TopLevelNames(const std::string& json)
{
    std::set<std::string> names;
    int depth = 0;
    for (size_t at = 0; at < json.size(); ++at) {
        char c = json[at];
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == '"') {
            size_t end = at + 1;
            while (json[end] != '"')
                end += json[end] == '\\' ? 2 : 1;
            if (depth == 1 && json.compare(end + 1, 1, ":") == 0)
                names.insert(json.substr(at + 1, end - at - 1));
            at = end;
        }
    }
    return names;
}

TEST(DoctorReportFields, EveryVerdictHasItsNameInTheList)
{
    for (int verdict = static_cast<int>(AccountVerdict::kAccepted);
         verdict <= static_cast<int>(AccountVerdict::kPasswordNotInCodePage); ++verdict) {
        std::string name = CheckResultName(static_cast<AccountVerdict>(verdict));
        EXPECT_NE(std::find(std::begin(kCheckResults), std::end(kCheckResults), name), std::end(kCheckResults))
            << name;
    }
}

TEST(DoctorReportFields, HelpAndGuideNameEveryCheckResult)
{
    std::string section = DoctorSectionOfGuide();
    for (const char* result : kCheckResults) {
        EXPECT_NE(std::string(kDoctorHelp).find(result), std::string::npos) << result;
        EXPECT_NE(section.find(std::string("`") + result + "`"), std::string::npos) << result;
    }
}

TEST(DoctorReportFields, GuideNamesEveryTopLevelJsonField)
{
    Report report;
    report.Add("load", Outcome::kOk, "loaded");
    report.caller = "ok";
    report.auth = "ok";
    std::set<std::string> names = TopLevelNames(Json(report));

    EXPECT_GE(names.size(), 9u);
    std::string section = DoctorSectionOfGuide();
    for (const std::string& name : names)
        EXPECT_NE(section.find("`\"" + name + "\"`"), std::string::npos) << name;
}

} // namespace
