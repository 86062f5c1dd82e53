// The terminal's own clipboard: the OSC 52 sequence, which copies text
// through the terminal itself, where no clipboard program can reach (over
// ssh, inside tmux or screen). Pure functions; writing is up to the caller.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

// How the sequence travels to the terminal.
enum class osc52_wrap {
    NONE,   // straight to the terminal, tmux included (with its set-clipboard on)
    SCREEN, // GNU screen: DCS strings short enough for screen's string buffer
};

// How the sequence itself ends. Inside screen's DCS strings an ST would end
// the DCS, so SCREEN always ends with BEL.
enum class osc52_end {
    BEL, // 0x07, understood by every terminal that knows OSC 52
    ST,  // ESC \, the standard terminator
};

// Standard base64 (RFC 4648, '+' and '/', '=' padding, no line breaks).
std::string base64_encode(std::string_view bytes);

// ESC ] 52 ; c ; <base64 of text> BEL (or ST), wrapped as asked. The text is
// any bytes; only its base64 reaches the terminal. An empty text gives an
// empty payload, which some terminals take as "clear the clipboard".
std::string osc52_sequence(std::string_view text, osc52_wrap wrap = osc52_wrap::NONE,
                           osc52_end end = osc52_end::BEL);

// Whether sequence is exactly a well-formed osc52_sequence for this wrap and
// end: the fixed framing around nothing but base64 characters. Checked
// before writing, so that no fault of the encoder can ever hand the terminal
// a control byte taken from a path.
bool osc52_is_safe(std::string_view sequence, osc52_wrap wrap = osc52_wrap::NONE,
                   osc52_end end = osc52_end::BEL);

} // namespace korvel
