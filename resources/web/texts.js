// The page's texts in the program's three languages.
'use strict';
window.TELVOX_TEXTS = {
  en: {
    skip: 'Skip to content', language: 'Language', browserLanguage: 'Browser language', logout: 'Log out',
    signIn: 'Sign in', password: 'Password', signInButton: 'Sign in', wrongPassword: 'Wrong password.',
    tooMany: 'Too many failed attempts. Try again in {0} s.', noPassword: 'No password is set. Run telvox --web-password on the computer.',
    lines: 'Lines', messages: 'Messages', unread: 'Unread', recent: 'Recent', nothingPlaying: 'Nothing playing',
    playing: 'Playing: {0}', noMessages: 'No messages.', play: 'Play', markRead: 'Mark read', markUnread: 'Mark unread',
    block: 'Block caller', remove: 'Delete', confirmDelete: 'Delete this message from the list?', unknownCaller: 'Unknown caller',
    line: 'Line {0}', seconds: '{0} s', calls: 'Calls', received: 'Received', made: 'Made', blocked: 'Blocked',
    none: 'None', numberLists: 'Block and allow lists', blockList: 'Block list', allowList: 'Allow list',
    numberOrPrefix: 'Number or prefix (0900*)', label: 'Label', add: 'Add', removeEntry: 'Remove {0}',
    newMessage: 'New message', ringing: 'Line {0} is ringing', blockedNotice: '{0} is now blocked.', failed: 'That did not work: {0}',
    state_closed: 'not open', state_idle: 'idle', state_call: 'call', state_playing: 'playing the greeting',
    'state_recording-message': 'recording a message', 'state_recording-conversation': 'recording a conversation',
    'state_recording-dialled': 'recording a dialled call', state_dialling: 'dialling',
    kind_A: 'Message', kind_M: 'Conversation', kind_O: 'Dialled call'
  },
  'zh-CN': {
    skip: '跳到内容', language: '语言', browserLanguage: '浏览器语言', logout: '退出登录',
    signIn: '登录', password: '密码', signInButton: '登录', wrongPassword: '密码错误。',
    tooMany: '失败次数过多，请 {0} 秒后再试。', noPassword: '尚未设置密码。请在电脑上运行 telvox --web-password。',
    lines: '线路', messages: '留言', unread: '未听', recent: '最近', nothingPlaying: '未在播放',
    playing: '正在播放：{0}', noMessages: '没有留言。', play: '播放', markRead: '标为已听', markUnread: '标为未听',
    block: '拦截来电者', remove: '删除', confirmDelete: '从列表中删除这条留言？', unknownCaller: '未知来电',
    line: '线路 {0}', seconds: '{0} 秒', calls: '通话记录', received: '已接来电', made: '已拨电话', blocked: '已拦截',
    none: '无', numberLists: '黑名单和白名单', blockList: '黑名单', allowList: '白名单',
    numberOrPrefix: '号码或前缀（0900*）', label: '备注', add: '添加', removeEntry: '删除 {0}',
    newMessage: '新留言', ringing: '线路 {0} 正在响铃', blockedNotice: '已拦截 {0}。', failed: '操作失败：{0}',
    state_closed: '未打开', state_idle: '空闲', state_call: '通话中', state_playing: '正在播放问候语',
    'state_recording-message': '正在录制留言', 'state_recording-conversation': '正在录制通话',
    'state_recording-dialled': '正在录制拨出电话', state_dialling: '正在拨号',
    kind_A: '留言', kind_M: '通话', kind_O: '拨出电话'
  },
  'zh-TW': {
    skip: '跳到內容', language: '語言', browserLanguage: '瀏覽器語言', logout: '登出',
    signIn: '登入', password: '密碼', signInButton: '登入', wrongPassword: '密碼錯誤。',
    tooMany: '失敗次數過多，請 {0} 秒後再試。', noPassword: '尚未設定密碼。請在電腦上執行 telvox --web-password。',
    lines: '線路', messages: '留言', unread: '未聽', recent: '最近', nothingPlaying: '未在播放',
    playing: '正在播放：{0}', noMessages: '沒有留言。', play: '播放', markRead: '標為已聽', markUnread: '標為未聽',
    block: '封鎖來電者', remove: '刪除', confirmDelete: '從清單中刪除這則留言？', unknownCaller: '未知來電',
    line: '線路 {0}', seconds: '{0} 秒', calls: '通話記錄', received: '已接來電', made: '已撥電話', blocked: '已封鎖',
    none: '無', numberLists: '封鎖與允許清單', blockList: '封鎖清單', allowList: '允許清單',
    numberOrPrefix: '號碼或字首（0900*）', label: '備註', add: '新增', removeEntry: '移除 {0}',
    newMessage: '新留言', ringing: '線路 {0} 正在響鈴', blockedNotice: '已封鎖 {0}。', failed: '操作失敗：{0}',
    state_closed: '未開啟', state_idle: '閒置', state_call: '通話中', state_playing: '正在播放問候語',
    'state_recording-message': '正在錄製留言', 'state_recording-conversation': '正在錄製通話',
    'state_recording-dialled': '正在錄製撥出電話', state_dialling: '正在撥號',
    kind_A: '留言', kind_M: '通話', kind_O: '撥出電話'
  }
};
