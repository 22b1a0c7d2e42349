#include "slicing/export/HydrogenKitWriter.h"

#include "slicing/export/TargetFiles.h"

#include <cstdint>

namespace cleavix::slicing::instrument {

namespace {

// The length of the UTF-8 sequence at `at` that XML 1.0 can hold as one character, or 0: no
// overlong forms, surrogates or code points past U+10FFFF, nor U+FFFE and U+FFFF.
size_t xmlCharLength(const std::string& text, size_t at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
        return 1;
    }
    size_t extra = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (at + extra >= text.size()) {
        return 0;
    }
    for (size_t k = 1; k <= extra; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF) {
        return 0;
    }
    return extra + 1;
}

bool validUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = xmlCharLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

// The kit's name as typed may come from a command line in another encoding: a byte that is not
// UTF-8 becomes U+FFFD, so drumkit.xml stays readable.
std::string utf8Only(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t length = xmlCharLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

} // namespace

std::string kitProblem(const SlicePlan& plan) {
    if (plan.slices.empty() || !plan.error.empty()) {
        return plan.error.empty() ? "There are no slices" : plan.error;
    }
    for (const Slice& slice : plan.slices) {
        if (!validUtf8(baseOf(slice.file))) {
            return "The drum kit cannot name the file \"" + baseOf(slice.file) + "\": drumkit.xml holds only UTF-8 "
                   "names";
        }
    }
    return {};
}

std::string xmlText(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out.push_back(c < 0x20 || c == 0x7f ? ' ' : char(c)); break;
        }
    }
    return out;
}

std::vector<std::string> kitFileNames(const SlicePlan& plan, const std::string& folder) {
    std::vector<std::string> names;
    for (const Slice& slice : plan.slices) {
        names.push_back(folder + "/" + baseOf(slice.file));
    }
    return names;
}

std::string drumkitXml(const SlicePlan& plan, const std::string& name) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x += "<drumkit_info xmlns=\"http://www.hydrogen-music.org/drumkit\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    x += " <name>" + xmlText(utf8Only(name)) + "</name>\n";
    x += " <author>Cleavix</author>\n";
    x += " <info>" + std::to_string(plan.slices.size()) + " slices of a loop</info>\n";
    // Hydrogen's schema wants the image fields even when the kit has no image.
    x += " <license></license>\n <image></image>\n <imageLicense></imageLicense>\n";
    x += " <componentList>\n  <drumkitComponent>\n   <id>0</id>\n   <name>Main</name>\n"
         "   <volume>1</volume>\n  </drumkitComponent>\n </componentList>\n";
    x += " <instrumentList>\n";
    int id = 0;
    for (const Slice& slice : plan.slices) {
        const std::string file = baseOf(slice.file);
        x += "  <instrument>\n";
        x += "   <id>" + std::to_string(id) + "</id>\n";
        x += "   <name>" + xmlText(file.substr(0, file.find_last_of('.'))) + "</name>\n";
        x += "   <volume>1</volume>\n   <isMuted>false</isMuted>\n   <isSoloed>false</isSoloed>\n"
             // pan_L and pan_R, which the schema takes as well as pan: 1 and 1 is the centre.
             "   <pan_L>1</pan_L>\n   <pan_R>1</pan_R>\n   <pitchOffset>0</pitchOffset>\n"
             "   <randomPitchFactor>0</randomPitchFactor>\n   <gain>1</gain>\n   <applyVelocity>true</applyVelocity>\n"
             "   <filterActive>false</filterActive>\n   <filterCutoff>1</filterCutoff>\n"
             "   <filterResonance>0</filterResonance>\n   <Attack>0</Attack>\n   <Decay>0</Decay>\n"
             "   <Sustain>1</Sustain>\n   <Release>1000</Release>\n   <muteGroup>-1</muteGroup>\n"
             "   <midiOutChannel>-1</midiOutChannel>\n";
        x += "   <midiOutNote>" + std::to_string(slice.keys.root) + "</midiOutNote>\n";
        x += "   <isStopNote>false</isStopNote>\n   <sampleSelectionAlgo>VELOCITY</sampleSelectionAlgo>\n"
             "   <isHihat>-1</isHihat>\n   <lower_cc>0</lower_cc>\n   <higher_cc>127</higher_cc>\n"
             "   <FX1Level>0</FX1Level>\n   <FX2Level>0</FX2Level>\n   <FX3Level>0</FX3Level>\n"
             "   <FX4Level>0</FX4Level>\n";
        x += "   <instrumentComponent>\n    <component_id>0</component_id>\n    <gain>1</gain>\n    <layer>\n";
        x += "     <filename>" + xmlText(file) + "</filename>\n";
        x += "     <min>0</min>\n     <max>1</max>\n     <gain>1</gain>\n     <pitch>0</pitch>\n";
        x += "    </layer>\n   </instrumentComponent>\n  </instrument>\n";
        ++id;
    }
    x += " </instrumentList>\n</drumkit_info>\n";
    return x;
}

} // namespace cleavix::slicing::instrument
