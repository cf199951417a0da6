#pragma once
// Where folianto-convert puts the document: the file named with -o, or standard output with -o -.
// The run writes a hidden work file beside that file (in a private temporary folder for standard
// output), which is moved into place only once complete: a failed or interrupted run never leaves a
// half-written document under the user's name, and --force keeps the old file until then.
#include <string>

class TOutputTarget {
public:
    TOutputTarget() = default;
    ~TOutputTarget(); // removes the work file (and the temporary folder) unless delivered
    TOutputTarget(const TOutputTarget&) = delete;
    TOutputTarget& operator=(const TOutputTarget&) = delete;

    // Checks the -o value against the file system and chooses the work file. False with a message
    // naming the path and the fix: a folder, a missing folder, an existing file without force, a
    // terminal as standard output.
    bool Plan(const std::string& output, bool force, std::string& error);

    // Folder and name (without ".pdf") for the conversion job's output.
    const std::string& WorkFolder() const { return Folder; }
    const std::string& WorkName() const { return Name; }
    std::string WorkPath() const;
    // A folder to remove with the work file (standard output only), else empty.
    const std::string& TemporaryFolder() const { return TempFolder; }
    bool ToStandardOutput() const { return Stdout; }
    // The document's final place as the user knows it: the path, or "standard output".
    std::string DisplayName() const;

    // Moves the finished work file into place, or copies it to standard output. False with a message
    // (the work file is then removed).
    bool Deliver(std::string& error);

private:
    void Discard();

    std::string Final;      // the user's file, ".pdf" added when missing
    std::string Folder;     // where the work file lives, ends in "/"
    std::string Name;       // the work file's name without ".pdf"
    std::string TempFolder; // private folder for standard output
    bool Stdout = false;
    bool Replace = false;
    bool Delivered = false;
};

// What stands at the output file's place when the run is planned.
enum class TOutputEntry {
    None,   // nothing
    Folder, // a folder: never replaced
    Other   // a file, a link (dangling ones too) or anything else that is not a folder
};

// What the run does about its output file.
enum class TOutputAction {
    Create,        // the document goes in as a new file; one that appears meanwhile is not replaced
    Replace,       // the document replaces whatever is there when it is complete
    RefuseFolder,  // the place is a folder
    RefuseExisting // something is there and --force was not given
};

// The action for what stands at the output's place, with or without --force.
TOutputAction DecideOutput(TOutputEntry entry, bool force);

// The output file for an -o value: ".pdf" is added unless the name already ends in it (any case).
std::string OutputFileFor(const std::string& output);
