#pragma once

#include <atomic>
#include <mutex>

// Declares a Qt property with its member, getter, setter and change signal;
// the setter announces only real changes. For use inside a Q_OBJECT class.
#define VTR_PROPERTY(Type, name, Name)                                                   \
    Q_PROPERTY(Type name READ name WRITE set##Name NOTIFY name##Changed)                 \
public:                                                                                  \
    Type name() const { return m_##name; }                                               \
    void set##Name(Type value)                                                           \
    {                                                                                    \
        if (m_##name == value) return;                                                   \
        m_##name = value;                                                                \
        Q_EMIT name##Changed();                                                          \
    }                                                                                    \
    Q_SIGNAL void name##Changed();                                                       \
                                                                                         \
private:                                                                                 \
    Type m_##name{};

// The same for a double that any thread may read and write whole.
#define VTR_ATOMIC_DOUBLE_PROPERTY(name, Name)                                           \
    Q_PROPERTY(double name READ name WRITE set##Name NOTIFY name##Changed)               \
public:                                                                                  \
    double name() const { return m_##name.load(); }                                      \
    void set##Name(double value)                                                         \
    {                                                                                    \
        if (m_##name.exchange(value) == value) return;                                   \
        Q_EMIT name##Changed();                                                          \
    }                                                                                    \
    Q_SIGNAL void name##Changed();                                                       \
                                                                                         \
private:                                                                                 \
    std::atomic<double> m_##name{0.0};

// A text that any thread may read and write whole (guarded by m_textMutex of
// the class).
#define VTR_TEXT_PROPERTY(name, Name)                                                    \
    Q_PROPERTY(QString name READ name WRITE set##Name NOTIFY name##Changed)              \
public:                                                                                  \
    QString name() const                                                                 \
    {                                                                                    \
        std::lock_guard lock(m_textMutex);                                               \
        return m_##name;                                                                 \
    }                                                                                    \
    void set##Name(const QString &value)                                                 \
    {                                                                                    \
        {                                                                                \
            std::lock_guard lock(m_textMutex);                                           \
            if (m_##name == value && m_##name.isNull() == value.isNull()) return;        \
            m_##name = value;                                                            \
        }                                                                                \
        Q_EMIT name##Changed();                                                          \
    }                                                                                    \
    Q_SIGNAL void name##Changed();                                                       \
                                                                                         \
private:                                                                                 \
    QString m_##name;
