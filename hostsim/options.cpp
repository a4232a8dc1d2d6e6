#include "hostsim/options.h"

#include <charconv>
#include <system_error>

namespace tsl::hostsim {

namespace {

// A whole text as one number; nothing before or after it.
template <typename T>
std::optional<T> wholeNumber(const std::string& text) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

template <typename T>
std::array<T, 3> triple(const std::string& option, const std::string& text, char separator) {
  std::array<T, 3> values{};
  std::size_t start = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t stop = i < 2 ? text.find(separator, start) : text.size();
    const auto value =
        stop == std::string::npos ? std::nullopt : wholeNumber<T>(text.substr(start, stop - start));
    if (!value) {
      throw UsageError(option + " expects three numbers separated by '" + separator + "', got \"" +
                       text + "\"");
    }
    values[i] = *value;
    start = stop + 1;
  }
  return values;
}

template <typename T>
void setOnce(std::optional<T>& slot, const std::string& option, T value) {
  if (slot) throw UsageError(option + " given more than once");
  slot = std::move(value);
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  bool versionSeen = false;
  bool documentIdSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(option + " needs a value");
      return args[++i];
    };
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--plugin") {
      setOnce(options.plugin, option, value());
    } else if (option == "--fmr") {
      setOnce(options.fmr, option, value());
    } else if (option == "--document-type") {
      const std::string& text = value();
      const auto type = wholeNumber<int>(text);
      if (!type) throw UsageError("--document-type expects an integer, got \"" + text + "\"");
      setOnce(options.documentType, option, *type);
    } else if (option == "--document-id") {
      if (documentIdSeen) throw UsageError("--document-id given more than once");
      documentIdSeen = true;
      const std::string& text = value();
      const auto id = wholeNumber<int>(text);
      if (!id || *id < 0) {
        throw UsageError("--document-id expects an integer of 0 or more, got \"" + text + "\"");
      }
      options.documentId = *id;
    } else if (option == "--version") {
      if (versionSeen) throw UsageError("--version given more than once");
      versionSeen = true;
      options.version = triple<int>(option, value(), '.');
    } else if (option == "--param") {
      const std::string& text = value();
      const std::size_t equals = text.find('=');
      if (equals == std::string::npos || equals == 0) {
        throw UsageError("--param expects NAME=VALUE, got \"" + text + "\"");
      }
      options.params.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    } else if (option == "--choose") {
      options.answers.emplace_back(value());
    } else if (option == "--cancel") {
      options.answers.emplace_back(std::nullopt);
    } else if (option == "--task") {
      options.tasks.push_back(value());
    } else if (option == "--plots") {
      setOnce(options.plotsDir, option, value());
    } else if (option == "--transcript") {
      setOnce(options.transcript, option, value());
    } else if (option == "--dims") {
      setOnce(options.dims, option, triple<int>(option, value(), ','));
    } else if (option == "--voxel-size") {
      setOnce(options.voxelSize, option, triple<float>(option, value(), ','));
    } else if (option == "--volumes") {
      const std::string& text = value();
      const auto volumes = wholeNumber<int>(text);
      if (!volumes) throw UsageError("--volumes expects an integer, got \"" + text + "\"");
      setOnce(options.volumes, option, *volumes);
    } else if (option == "--map-dims") {
      setOnce(options.mapDims, option, triple<int>(option, value(), ','));
    } else if (option == "--no-map-slices") {
      options.noMapSlices = true;
    } else if (option == "--ignore-refusal") {
      options.ignoreRefusal = true;
    } else {
      throw UsageError("unknown argument \"" + option + "\"");
    }
  }
  return options;
}

std::string usageText() {
  return "Usage: Zorvane.exe [options]\n"
         "Stands in for the host application: loads the plug-in, provides the host\n"
         "functions, runs tasks.\n"
         "\n"
         "  --plugin FILE           plug-in library to load (default: the one beside this "
         "program)\n"
         "  --fmr FILE              FMR header file of the current run (document type 1); an\n"
         "                          unreadable file leaves the record's numbers 0\n"
         "  --document-type N       type of the current document; without --fmr its header\n"
         "                          record is all zero; with neither there is no document\n"
         "  --document-id N         id of the current document (default 0); zrGetDocumentType\n"
         "                          knows no other id\n"
         "  --version MAJOR.MINOR.SUB  version the host reports (default 3.6.0)\n"
         "  --param NAME=VALUE      dialog parameter, kept as text (repeats)\n"
         "  --choose PATH           answer to the next file dialog (repeats)\n"
         "  --cancel                the next file dialog is cancelled (repeats); a dialog\n"
         "                          with no answer left is cancelled too\n"
         "  --task NAME             sets the parameter task and calls execute (repeats, in order)\n"
         "  --plots DIR             writes every plot as DIR/plot-N.svg at the end\n"
         "  --transcript FILE       every host call, one JSON object per line; floats with 9\n"
         "                          significant digits, NaN and infinities as the strings\n"
         "                          \"nan\", \"inf\", \"-inf\"\n"
         "  --dims X,Y,Z            overrides the record's DimX, DimY, DimZ\n"
         "  --voxel-size X,Y,Z      overrides the record's voxel sizes\n"
         "  --volumes N             overrides the record's number of volumes\n"
         "  --map-dims X,Y,Z        grid of new maps (default: the record's dims)\n"
         "  --no-map-slices         zrGetMAPOfCurrentFMR returns no slice array\n"
         "  --ignore-refusal        runs the tasks even after initPlugin returned false, as a\n"
         "                          host that ignores the refusal would (exit status still 1)\n"
         "  --help                  this text\n"
         "\n"
         "Log texts go to standard output as received, message boxes to standard error\n"
         "as \"message: TEXT\" lines. Maps are saved as NIfTI-1 single files (float32,\n"
         "dim[0] 4, the maps along the 4th dimension).\n"
         "\n"
         "Exit status: 0 when the plug-in loaded, initPlugin returned true and every\n"
         "execute returned; 1 when loading, createPlugin or initPlugin failed (reason on\n"
         "standard error; after initPlugin returned false no task runs unless\n"
         "--ignore-refusal, and the object is still destroyed); 2 for a bad command line.\n";
}

}  // namespace tsl::hostsim
