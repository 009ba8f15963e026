// Entry point of the dialog tests: starts wxWidgets on the X display (xvfb-run provides one),
// then runs the tests on the main thread.
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

#include <cstdio>

namespace
{
class TestApp : public wxApp
{
public:
    bool OnInit() override { return true; }
};
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new TestApp());
    if (!wxEntryStart(argc, argv))
    {
        std::fprintf(stderr, "cannot start the GUI: no X display (run under xvfb-run)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    wxInitAllImageHandlers();
    int status = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return status;
}
