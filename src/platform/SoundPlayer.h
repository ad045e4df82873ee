#pragma once
// The message sounds: a wave file through Qt Multimedia, or the desktop theme's
// information sound through libcanberra; either once or over and over until stopped.
// Where there is no audio device the sounds are silent; nothing is reported.
//
// Use (the chat window's INotifierHost):
//   bool ok = sounds.PlayFile(path, repeat);   // false: missing or not a wave file
//   sounds.PlaySystemSound(repeat);
//   sounds.Stop();
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

class QSoundEffect;
struct ca_context;

class CSoundPlayer : public QObject
{
    Q_OBJECT
public:
    // The freedesktop sound-theme event that stands for the system's asterisk sound.
    static constexpr const char* kSystemEvent = "dialog-information";

    explicit CSoundPlayer(QObject* parent = nullptr);
    ~CSoundPlayer() override;

    // Windows-1252 path, as the settings hold it.
    bool PlayFile(const std::string& path, bool repeat);
    void PlaySystemSound(bool repeat);
    void Stop();

    bool IsPlayingFile() const;
    bool IsRepeatingSystemSound() const { return m_systemRepeating; }

    // The end of a desktop sound (canberra's report, brought to our thread).
    void OnSystemSoundFinished(uint32_t id, int error);

private:
    std::unique_ptr<QSoundEffect> m_effect;
    ca_context* m_canberra = nullptr;
    uint32_t m_systemId = 0; // the canberra id of the sound now playing
    bool m_systemRepeating = false;
    bool m_fileRepeat = false;
};
