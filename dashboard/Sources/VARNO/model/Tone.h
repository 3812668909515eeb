#pragma once

// What a status colour says, named by its meaning rather than by its hue. The
// core hands out tones; the kit maps each one to its colour token
// (VarnoColor::tone), so the palette's values live in the kit alone.
enum class Tone {
    good,    // healthy, verified, current
    caution, // outdated, updating, needs a look
    risk,    // at risk, failed, an error
    neutral, // unknown, not yet checked, nothing to say
};
