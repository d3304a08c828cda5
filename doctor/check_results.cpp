#include "doctor/check_results.h"

const char* CheckResultName(AccountVerdict verdict)
{
    switch (verdict) {
#define VERDICT_NAME(verdict, name, words) \
    case AccountVerdict::verdict: return name;
        ACCOUNT_VERDICTS(VERDICT_NAME)
#undef VERDICT_NAME
    }
    return "";
}

const char* CheckResultWords(AccountVerdict verdict)
{
    switch (verdict) {
#define VERDICT_WORDS(verdict, name, words) \
    case AccountVerdict::verdict: return words;
        ACCOUNT_VERDICTS(VERDICT_WORDS)
#undef VERDICT_WORDS
    }
    return "";
}
