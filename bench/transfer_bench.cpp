// Uploading a large picture file to the reference image host with our HTTP
// client, against curl doing the same upload in the same run; and converting
// a large bitmap to JPEG (load, then save at quality 90) against cjpeg.
//
//   transfer_bench [--short]
//
// It starts the reference services itself (vintrel-services beside the
// program in the build's bin folder).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_support.h"
#include "platform/image/image.h"
#include "platform/net/http.h"
#include "platform/sys/files.h"

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Runs a program with an argument vector, its output thrown away; its status.
int RunQuiet(const std::vector<std::string>& argv)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        FILE* null = std::fopen("/dev/null", "w");
        if (null) {
            ::dup2(::fileno(null), 1);
            ::dup2(::fileno(null), 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// This process's resident memory and its high-water mark, in kB.
long StatusKb(const char* field) { return bench::StatusKb("self", field); }

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::string(argv[1]) == "--short";
    const long long megabytes = quick ? 10 : 100;
    const int width = quick ? 1000 : 4000, height = quick ? 750 : 3000;

    std::string folder = (fs::temp_directory_path() / "vintrel-transfer-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        return 1;
    const std::string bin = fs::path(sys::ExecutablePath()).parent_path().parent_path() / "bin";

    // The reference services on a free port.
    int out[2], in[2];
    if (::pipe(out) != 0 || ::pipe(in) != 0)
        return 1;
    pid_t server = ::fork();
    if (server == 0) {
        ::dup2(out[1], 1);
        ::dup2(in[0], 0);
        ::close(out[0]);
        ::close(in[1]);
        std::string program = bin + "/vintrel-services";
        std::string data = folder + "/services";
        ::execl(program.c_str(), program.c_str(), "--port", "0", "--data", data.c_str(), "--stdin-ends",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    FILE* serverOut = ::fdopen(out[0], "r");
    char line[256] = "";
    if (!std::fgets(line, sizeof line, serverOut)) {
        std::fprintf(stderr, "the reference services did not start\n");
        return 1;
    }
    std::string text = line;
    std::string address = "http://" + text.substr(text.rfind(' ') + 1);
    while (!address.empty() && (address.back() == '\n' || address.back() == '\r'))
        address.pop_back();

    // A large file of picture-like bytes.
    std::string file = folder + "/big.jpg";
    {
        std::ofstream f(file, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((i * 2654435761u) >> 13);
        for (long long i = 0; i < megabytes; ++i)
            f.write(block.data(), static_cast<std::streamsize>(block.size()));
    }

    std::printf("transfers and conversion (%s mode)\n", quick ? "short" : "full");
    net::HttpClient client;
    long rssBefore = StatusKb("VmRSS:");
    auto start = Clock::now();
    net::MultipartForm form;
    form.AddFile("fileupload", file, file, "image/pjpeg");
    form.AddText("xml", "yes");
    try {
        client.Post(address + "/index.php", form);
    } catch (const net::HttpError& e) {
        std::printf("  our upload failed: %s\n", e.what());
    }
    double ours = Seconds(start);
    long growth = StatusKb("VmHWM:") - rssBefore;

    start = Clock::now();
    int curlStatus = RunQuiet({"curl", "-s", "-o", "/dev/null", "-F", "fileupload=@" + file + ";type=image/pjpeg", "-F",
                               "xml=yes", address + "/index.php"});
    double theirs = Seconds(start);
    std::printf("  upload of %lld MB: ours %.2f s, curl -F %.2f s%s, ratio %.2f (goal <= 1.2)\n", megabytes, ours,
                theirs, curlStatus == 0 ? "" : " (curl failed)", theirs > 0 ? ours / theirs : 0.0);
    std::printf("  peak memory growth during the upload: %.1f MB (goal < 16 MB)\n", growth / 1024.0);
    fs::remove(file);

    // A large 24-bit bitmap, converted by loading it and saving it as JPEG.
    ui::Bitmap picture;
    picture.Width = width;
    picture.Height = height;
    picture.Pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.Pixels[static_cast<size_t>(y) * width + x] =
                0xFF000000u | static_cast<std::uint32_t>((x * 255 / width) << 16 | (y * 255 / height) << 8 | ((x ^ y) & 0xFF));
    std::string bmp = folder + "/big.bmp";
    img::SaveBmp(picture, bmp);
    picture = {};
    start = Clock::now();
    img::SaveJpeg(img::LoadPictureByExtension(bmp), folder + "/ours.jpg", 90);
    double convert = Seconds(start);
    start = Clock::now();
    int cjpegStatus = RunQuiet({"cjpeg", "-quality", "90", "-outfile", folder + "/theirs.jpg", bmp});
    double cjpeg = Seconds(start);
    std::printf("  %d x %d bitmap to JPEG: ours %.2f s, cjpeg -quality 90 %.2f s%s, ratio %.2f (goal <= 3)\n", width,
                height, convert, cjpeg, cjpegStatus == 0 ? "" : " (cjpeg failed)", cjpeg > 0 ? convert / cjpeg : 0.0);

    ::close(in[1]);   // the services end with their input
    ::waitpid(server, nullptr, 0);
    fs::remove_all(folder);
    return 0;
}
