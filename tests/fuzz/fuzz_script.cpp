// libFuzzer target: any text as a script. The reader must never crash, read
// outside the text or leak; and whatever it compiles, the device view
// describes as steps that compile back to the same frames and answers.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "script/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text exactly as read, with nothing after it, so that an overrun shows.
    std::vector<char> text(data, data + size);
    script_check check;
    if (!script_compile(text.data(), text.size(), nullptr, 0, &check)) {
        if (check.errors == 0) std::abort();
        return 0;
    }
    std::vector<script_step> steps(check.steps);
    script_check again;
    if (!script_compile(text.data(), text.size(), steps.data(), steps.size(), &again) || again.steps != check.steps)
        std::abort();
    for (const script_step& step : steps) {
        if (step.text + step.text_length > size) std::abort();
        char described[LAYOUT_STEP_MAX];
        if (step.kind == step_kind::write || step.kind == step_kind::set)
            layout_describe_frame(step.bytes, step.kind == step_kind::set, described, sizeof(described));
        else if (step.kind == step_kind::expect)
            layout_describe_answer(step.bytes, LAYOUT_DATA_SIZE, described, sizeof(described));
        else
            continue;
        script_step back;
        script_check one;
        if (!script_compile(described, std::strlen(described), &back, 1, &one) || one.steps != 1 ||
            back.kind != step.kind || std::memcmp(back.bytes, step.bytes, sizeof(step.bytes)) != 0)
            std::abort();
    }
    return 0;
}
