// Build step: writes the LV2 bundle's manifest.ttl (the configured plug-in
// entry plus one entry per preset) and presets.ttl, one preset per factory
// process, each carrying the whole process as its state.
//   quorvane_lv2_presets MANIFEST_BASE OUT_DIR
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "plugins/plugin_core.h"
#include "settings/process_file.h"
#include "settings/startup.h"
#if __has_include("settings/factory.h")
#include "settings/factory.h"
#define QV_HAVE_FACTORY 1
#endif

namespace {

using qv::ProcessParams;

struct Preset {
    std::string slug;   // URI fragment after "preset-"
    int number;         // the process port's value that goes with it
    std::string label;  // shown by hosts
    ProcessParams process;
};

// The default process first, then the factory processes at their numbers.
bool preset_list(std::vector<Preset>& out) {
    Preset d{"default", 0, "DEFAULT", {}};
    qv::fill_defaults(d.process);
    out.push_back(d);
#ifdef QV_HAVE_FACTORY
    for (int i = 0; i < qv::kFactoryProcessCount; ++i) {
        const qv::FactoryProcess& f = qv::kFactoryProcesses[i];
        Preset p{std::to_string(f.number), f.number, f.name, {}};
        std::string error;
        if (!qv::factory_params(f, p.process, error)) {
            std::cerr << "factory process " << f.number << ": " << error << "\n";
            return false;
        }
        out.push_back(p);
    }
#endif
    return true;
}

std::string base64(const unsigned char* data, std::size_t len) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((len + 2) / 3 * 4);
    for (std::size_t i = 0; i < len; i += 3) {
        const unsigned v = (data[i] << 16) | (i + 1 < len ? data[i + 1] << 8 : 0) | (i + 2 < len ? data[i + 2] : 0);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < len ? kAlphabet[v & 63] : '=';
    }
    return out;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char ch : s) {
        if (ch == '"' || ch == '\\') out += '\\';
        out += ch;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: quorvane_lv2_presets MANIFEST_BASE OUT_DIR\n";
        return 2;
    }
    std::vector<Preset> presets;
    if (!preset_list(presets)) return 1;
    std::ifstream base_in(argv[1]);
    std::stringstream base;
    base << base_in.rdbuf();
    if (!base_in) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    const std::string uri = qv::plugin::kLv2Uri;
    const std::string dir = argv[2];

    std::ostringstream manifest, list;
    manifest << base.str();
    list << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
         << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
         << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
         << "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
         << "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n";
    for (const Preset& p : presets) {
        const std::string id = "<" + uri + "#preset-" + p.slug + ">";
        manifest << "\n"
                 << id << "\n    a pset:Preset ;\n    lv2:appliesTo <" << uri
                 << "> ;\n    rdfs:seeAlso <presets.ttl> .\n";
        unsigned char image[qv::kProcessFileBytes];
        qv::encode_process(p.process, image);
        list << "\n"
             << id << "\n    a pset:Preset ;\n    lv2:appliesTo <" << uri << "> ;\n    rdfs:label \"" << escape(p.label)
             << "\" ;\n    lv2:port [\n        lv2:symbol \"process\" ;\n        pset:value " << p.number
             << ".0\n    ] ;\n    state:state [\n        <" << uri << "#process> \"" << base64(image, sizeof image)
             << "\"^^xsd:base64Binary ;\n        <" << uri << "#process_number> \"" << p.number
             << "\"^^xsd:int\n    ] .\n";
    }
    for (const auto& [name, text] :
         {std::pair{std::string("manifest.ttl"), manifest.str()}, std::pair{std::string("presets.ttl"), list.str()}}) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out << text;
        if (!out) {
            std::cerr << dir << "/" << name << ": cannot be written\n";
            return 1;
        }
    }
    return 0;
}
