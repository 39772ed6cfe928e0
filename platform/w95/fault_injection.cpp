// The fault plan of W95_FAIL: parsing it and failing or crashing calls by it.
#include "fault_injection.h"

#include <csignal>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "emulated_process.h"
#include "emulator_error.h"
#include "platform_fault.h"
#include "text_helpers.h"
#include "transcript.h"

namespace w95 {

namespace {

FaultRule ParseRule(std::string_view entry) {
    auto fail = [&](const std::string &why) -> FaultRule {
        throw EmulatorFailure("W95_FAIL: '" + std::string(entry) + "': " + why);
    };
    std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return fail("expected CALL=ERROR or CALL@N=ERROR");
    std::string_view call = TrimBlanks(entry.substr(0, equals));
    std::string_view error = TrimBlanks(entry.substr(equals + 1));
    FaultRule rule{Call{}, 0, 0};
    std::size_t at = call.find('@');
    if (at != std::string_view::npos) {
        if (!ParsePositiveDecimal(TrimBlanks(call.substr(at + 1)), &rule.nth))
            return fail("N must be a call number from 1");
        call = TrimBlanks(call.substr(0, at));
    }
    std::optional<Call> known = CallNamed(call);
    if (!known)
        return fail("no emulated call is named '" + std::string(call) + "'");
    rule.call = *known;
    if (error == "crash") {
        rule.error = kCrashFault;
    } else {
        unsigned long code;
        if (InfoOf(*known).kind == CallKind::OnlyCrash)
            return fail(std::string(call) + " cannot fail; only crash fits");
        if (!ParsePositiveDecimal(error, &code))
            return fail("ERROR must be a Win32 error code from 1, or crash");
        rule.error = static_cast<DWORD>(code);
    }
    return rule;
}

}  // namespace

void SetFaultPlan(const std::string &list) {
    std::vector<FaultRule> rules;
    std::string_view rest(list);
    while (!TrimBlanks(rest).empty()) {
        std::size_t comma = rest.find(',');
        std::string_view entry = TrimBlanks(rest.substr(0, comma));
        if (entry.empty())
            throw EmulatorFailure("W95_FAIL: empty entry in '" + list + "'");
        rules.push_back(ParseRule(entry));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
        if (TrimBlanks(rest).empty())
            throw EmulatorFailure("W95_FAIL: empty entry in '" + list + "'");
    }
    Process().faults = Faults{std::move(rules), {}};
}

void ResetFaults() { Process().faults = Faults{}; }

DWORD InjectedFault(CallName name) {
    Faults &faults = Process().faults;
    if (faults.plan.empty()) return 0;
    const Call call = name.call();
    const std::string callName(InfoOf(call).name);
    unsigned long n = ++faults.counts[static_cast<std::size_t>(call)];
    for (const FaultRule &rule : faults.plan) {
        if (rule.call != call || (rule.nth != 0 && rule.nth != n)) continue;
        nlohmann::ordered_json event = {
            {"event", "Fault"}, {"call", callName}, {"n", n}};
        if (rule.error == kCrashFault) {
            event["error"] = "crash";
            RecordEvent(event);
            std::fflush(nullptr);
            // As at a power loss: no exit handlers, no write-back.
            std::fprintf(stderr, "w95: crash injected at %s call %lu\n",
                         callName.c_str(), n);
            _exit(128 + SIGKILL);
        }
        event["error"] = rule.error;
        RecordEvent(event);
        return rule.error;
    }
    return 0;
}

}  // namespace w95

DWORD PlatformInjectedFault(PlatformCallName call) {
    return w95::InjectedFault(w95::CallOf(call.call()));
}
