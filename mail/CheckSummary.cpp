#include "mail/CheckSummary.h"

std::string CompletionText(const std::string& operation, const std::string& time, int errors)
{
    return operation + " completed at " + time + " with " + std::to_string(errors) + " error(s)";
}

std::string CheckSummary(const std::string& time, int errors)
{
    return CompletionText("Mail Check", time, errors);
}

std::string PreviewSummary(const std::string& time, int errors)
{
    return CompletionText("Message Preview", time, errors);
}
