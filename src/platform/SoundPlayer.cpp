#include "platform/SoundPlayer.h"

#include "platform/QtText.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QSoundEffect>
#include <QUrl>
#include <canberra.h>

namespace {

// QSoundEffect plays uncompressed wave files only; anything else is not ours to try.
bool IsWaveFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray head = file.read(12);
    return head.size() == 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WAVE";
}

// The players that still exist, so that the end of a sound reported late finds no dead one.
// Touched on the user-interface thread only.
QSet<CSoundPlayer*>& LivePlayers()
{
    static QSet<CSoundPlayer*> players;
    return players;
}

// canberra reports the end on a thread of its own; the player hears of it on ours.
void OnFinished(ca_context*, uint32_t id, int error, void* data)
{
    auto* player = static_cast<CSoundPlayer*>(data);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [player, id, error] {
            if (LivePlayers().contains(player))
                player->OnSystemSoundFinished(id, error);
        },
        Qt::QueuedConnection);
}

} // namespace

CSoundPlayer::CSoundPlayer(QObject* parent) : QObject(parent)
{
    LivePlayers().insert(this);
    if (ca_context_create(&m_canberra) != CA_SUCCESS)
        m_canberra = nullptr;
}

CSoundPlayer::~CSoundPlayer()
{
    LivePlayers().remove(this);
    Stop();
    if (m_canberra)
        ca_context_destroy(m_canberra);
}

bool CSoundPlayer::PlayFile(const std::string& path, bool repeat)
{
    Stop();
    QString file = FromCp1252(path);
    if (!IsWaveFile(file))
        return false;
    m_effect = std::make_unique<QSoundEffect>();
    m_fileRepeat = repeat;
    // A file Qt cannot decode after all gives way to the desktop's sound, as a missing one does.
    connect(m_effect.get(), &QSoundEffect::statusChanged, this, [this] {
        if (m_effect && m_effect->status() == QSoundEffect::Error) {
            m_effect.release()->deleteLater();
            PlaySystemSound(m_fileRepeat);
        }
    });
    m_effect->setSource(QUrl::fromLocalFile(file));
    m_effect->setLoopCount(repeat ? QSoundEffect::Infinite : 1);
    m_effect->play();
    return true;
}

bool CSoundPlayer::IsPlayingFile() const
{
    return m_effect && m_effect->status() != QSoundEffect::Error;
}

void CSoundPlayer::PlaySystemSound(bool repeat)
{
    if (!m_canberra)
        return;
    if (m_systemId)
        ca_context_cancel(m_canberra, m_systemId);
    static uint32_t nextId = 1;
    m_systemId = nextId++;
    m_systemRepeating = repeat;
    ca_proplist* properties = nullptr;
    ca_proplist_create(&properties);
    ca_proplist_sets(properties, CA_PROP_EVENT_ID, kSystemEvent);
    ca_proplist_sets(properties, CA_PROP_EVENT_DESCRIPTION, "Zib Tam message");
    int result = ca_context_play_full(m_canberra, m_systemId, properties, &OnFinished, this);
    ca_proplist_destroy(properties);
    if (result != CA_SUCCESS) {
        // No sound server or no such sound: silence, as the promise is.
        m_systemId = 0;
        m_systemRepeating = false;
    }
}

void CSoundPlayer::OnSystemSoundFinished(uint32_t id, int error)
{
    if (id != m_systemId)
        return;
    m_systemId = 0;
    if (m_systemRepeating && error == CA_SUCCESS)
        PlaySystemSound(true);
}

void CSoundPlayer::Stop()
{
    if (m_effect) {
        m_effect->stop();
        m_effect.reset();
    }
    m_systemRepeating = false;
    if (m_canberra && m_systemId) {
        uint32_t id = m_systemId;
        m_systemId = 0;
        ca_context_cancel(m_canberra, id);
    }
}
