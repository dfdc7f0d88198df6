// The automation server that the browser's "add.htm" page creates. Its class
// factory and AddUrl arrive with the browser integration; until then the
// library loads and exports nothing.
namespace {
[[maybe_unused]] constexpr const char* kServerName = "Corvane_ComHost";
}
