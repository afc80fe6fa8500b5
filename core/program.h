// Which of the two programs the core is running in. The few behaviours that differ
// (recording rules, ResetDay, log names, mail texts) are chosen by this value.
#pragma once

namespace qv {

enum class Program { Desktop, Service };

}  // namespace qv
