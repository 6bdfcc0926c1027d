// The page's recording and snapshot commands on panes that really play: the files they leave and
// the folder a stop opens.
#include <filesystem>

#include "PlayFixture.h"
#include "tests/support/OpenedFolders.h"

namespace {

const std::string kLive = "codec=h264&width=640&height=360&fps=25&audio=g711u";

class FileCommandsTest : public PlayFixture {
 protected:
  // ffprobe's video codec, size and decoded frame count of a file, on one line.
  static std::string Probe(const std::string& path) {
    FILE* pipe = ::popen(("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                          "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + path + "' 2>/dev/null")
                             .c_str(),
                         "r");
    char line[256] = {};
    if (pipe && !std::fgets(line, sizeof line, pipe)) line[0] = '\0';
    if (pipe) ::pclose(pipe);
    std::string text(line);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  OpenedFolders m_opened;
};

TEST_F(FileCommandsTest, RecordAndCaptureThroughThePanes) {
  CreateGroup(4);
  ASSERT_EQ(Execute(StartText("startPlay", Url(kLive), 1, 2, "s")).ErrorCode(), 0);
  ASSERT_TRUE(WaitPresented(1, 5));
  const std::string folder = m_folder.File("rec/10.00.00") + "/";
  // By camera: camera 2 plays in pane 1 although the message names pane 3.
  ASSERT_EQ(Execute(R"({"cmd":"startRecord","data":{"wndIndex":3,"channel":2,"fileName":")" +
                    m_folder.File("rec/10:00:00/cam.mp4") + R"("}})")
                .ErrorCode(),
            0);
  const std::string shot = m_folder.File("shots/a.png");
  ASSERT_EQ(Execute(R"({"cmd":"capture","data":{"wndIndex":1,"fileName":")" + shot + R"("}})").ErrorCode(), 0);
  EXPECT_EQ(Probe(shot), "png,640,360,1");
  const std::string file = folder + "cam_H264_G711U.mp4";
  ASSERT_TRUE(WaitUntil([&] {
    const std::string p = Probe(file);
    return p.size() > 14 && std::atoi(p.c_str() + 13) >= 25;  // "h264,640,360,N"
  })) << Probe(file);
  ASSERT_EQ(Execute(R"({"cmd":"stopRecord","data":{"channel":2}})").ErrorCode(), 0);
  EXPECT_EQ(m_opened.Take(), (std::vector<std::string>{m_folder.File("shots") + "/", folder}));
  EXPECT_EQ(Probe(file).substr(0, 13), "h264,640,360,");
  // A pane with nothing playing records nothing and answers 0.
  EXPECT_EQ(Execute(R"({"cmd":"startRecord","data":{"wndIndex":0,"fileName":")" + m_folder.File("x/y.mp4") +
                    R"("}})")
                .ErrorCode(),
            0);
  EXPECT_FALSE(std::filesystem::exists(m_folder.File("x")));
}

}  // namespace
